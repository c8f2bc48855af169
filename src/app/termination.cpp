#include "app/termination.h"

#include <utility>

namespace tarn {
namespace {

struct TTerminationState {
  bool requested = false;
  std::function<void()> action;
};

TTerminationState& State() {
  static TTerminationState state;
  return state;
}

}  // namespace

void RequestTermination() {
  State().requested = true;
  if (State().action) State().action();
}

bool TerminationRequested() { return State().requested; }

void ResetTermination() { State().requested = false; }

void SetTerminationAction(std::function<void()> action) { State().action = std::move(action); }

}  // namespace tarn
