#include "runtime/component.h"

#include <algorithm>

namespace {

void Erase(std::vector<TComponent*>& list, TComponent* item) {
  list.erase(std::remove(list.begin(), list.end(), item), list.end());
}

}  // namespace

TComponent::TComponent(TComponent* owner) : owner_(owner) {
  if (owner_ != nullptr) owner_->InsertComponent(this);
}

TComponent::~TComponent() {
  SendRemovalNotices();
  DestroyComponents();
  if (owner_ != nullptr) owner_->RemoveComponent(this);
}

void TComponent::FreeNotification(TComponent* other) {
  if (other == nullptr || other == this) return;
  if (std::find(notified_.begin(), notified_.end(), other) == notified_.end()) {
    notified_.push_back(other);
    try {
      other->notified_.push_back(this);
    } catch (...) {
      // Out of memory: a link known to one side only would leave this one
      // holding `other` after its death, so neither keeps it.
      notified_.pop_back();
      throw;
    }
  }
}

void TComponent::RemoveFreeNotification(TComponent* other) {
  if (other == nullptr) return;
  Erase(notified_, other);
  Erase(other->notified_, this);
}

void TComponent::Notification(TComponent*, TOperation) {}

void TComponent::DestroyComponents() {
  while (!owned_.empty()) {
    TComponent* newest = owned_.back();
    delete newest;  // its destructor removes it from owned_
  }
}

void TComponent::InsertComponent(TComponent* component) {
  owned_.push_back(component);
  Notification(component, TOperation::opInsert);
}

void TComponent::RemoveComponent(TComponent* component) {
  Erase(owned_, component);
  Notification(component, TOperation::opRemove);
  component->owner_ = nullptr;
}

void TComponent::SendRemovalNotices() {
  // Each notified component may unlink itself while being told; take the
  // list over first so that no iterator is invalidated.
  std::vector<TComponent*> linked;
  linked.swap(notified_);
  for (TComponent* other : linked) {
    Erase(other->notified_, this);
    other->Notification(this, TOperation::opRemove);
  }
}
