#include "transport/anti_freeze.h"

#include <atomic>
#include <thread>

namespace {

std::atomic<TIdAntiFreezeBase*> g_registered{nullptr};

// Static initialisation runs on the thread that starts the process.
const std::thread::id g_main_thread = std::this_thread::get_id();

}  // namespace

TIdAntiFreezeBase::TIdAntiFreezeBase(TComponent* owner) : TIdBaseComponent(owner) {
  g_registered.store(this);
}

TIdAntiFreezeBase::~TIdAntiFreezeBase() { g_registered.store(nullptr); }

TIdAntiFreezeBase* TIdAntiFreezeBase::Registered() { return g_registered.load(); }

bool TIdAntiFreezeBase::AntiFreezeInUse() {
  TIdAntiFreezeBase* anti_freeze = g_registered.load();
  return anti_freeze != nullptr && std::this_thread::get_id() == g_main_thread &&
         anti_freeze->Active;
}

void TIdAntiFreezeBase::GiveTime(bool idle, bool override_idle) {
  if (!AntiFreezeInUse()) return;
  TIdAntiFreezeBase* anti_freeze = g_registered.load();
  if ((idle || !anti_freeze->OnlyWhenIdle || override_idle) && anti_freeze->Active) {
    anti_freeze->ProcessEvents();
  }
}
