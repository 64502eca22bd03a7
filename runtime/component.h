#pragma once

#include <vector>

/// The general component base: a component may have an owner, which destroys
/// it when the owner itself is destroyed, and a component can ask to be told
/// (a removal notice) when another one is destroyed, so that it can drop its
/// reference before it dangles.
class TComponent {
 public:
  enum class TOperation { opInsert, opRemove };

  explicit TComponent(TComponent* owner);
  virtual ~TComponent();
  TComponent(const TComponent&) = delete;
  TComponent& operator=(const TComponent&) = delete;

  TComponent* Owner() const { return owner_; }
  int ComponentCount() const { return static_cast<int>(owned_.size()); }

  /// Asks for a removal notice (`Notification(other, opRemove)` on this
  /// component) when `other` is destroyed. The link is mutual: whichever of
  /// the two dies first unregisters itself from the other. When memory runs
  /// out it raises with neither side linked.
  void FreeNotification(TComponent* other);
  /// Drops a link made by `FreeNotification`.
  void RemoveFreeNotification(TComponent* other);

 protected:
  /// Called when a component this one registered for (or owns) is being
  /// destroyed. The base does nothing.
  virtual void Notification(TComponent* component, TOperation operation);

  /// Destroys the owned components, newest first. Derived destructors that
  /// must run after their owned components are gone call this first; the base
  /// destructor calls it again, which then finds nothing to do.
  void DestroyComponents();

 private:
  void InsertComponent(TComponent* component);
  void RemoveComponent(TComponent* component);
  void SendRemovalNotices();

  TComponent* owner_;
  std::vector<TComponent*> owned_;
  std::vector<TComponent*> notified_;  // components linked by FreeNotification
};
