#include "host/lifecycle/renewal.h"

#include <ctime>

#include "host/lifecycle/renewal_run.h"
#include "host/lifecycle/slots.h"

namespace host::lifecycle {
namespace {

namespace results = ozo::results;
using detail::Plan;
using detail::Renewal;

RenewalOutcome NoType() {
  RenewalOutcome refused;
  refused.refusal = RenewalRefusal::BadRequest;
  refused.status = Status(results::InvalidArgument, kNoPeerType);
  return refused;
}

// A renewal's run of `order`, rehearsed (nothing written) when asked.
RenewalOutcome RunOrder(const RenewalOrder& order, RenewalDependencies& with, bool rehearse) {
  if (!order.type) return NoType();
  Plan plan(*order.type);
  plan.overrides = &order.overrides;
  plan.tryPair = order.tryPair;
  plan.rehearse = rehearse;
  plan.timeoutSeconds = order.timeoutSeconds;
  plan.initiator = order.initiator;
  return Renewal(plan, with).Run();
}

}  // namespace

RenewalOutcome RunRenewal(const RenewalOrder& order, RenewalDependencies& with) { return RunOrder(order, with, false); }

RenewalOutcome RehearseRenewal(const RenewalOrder& order, RenewalDependencies& with) {
  return RunOrder(order, with, true);
}

Status RenewAll(RenewalDependencies& with, bool onlyDue, double timeoutSeconds, const ivo::ChangeInitiator& initiator,
                std::vector<SlotRun>& runs) {
  runs.clear();
  std::vector<SlotRenewals> slots;
  if (Status read = ReadSlotRenewals(with.store, with.manager, slots); !read.ok()) return read;
  const std::int64_t now = with.now ? with.now() : std::time(nullptr);
  for (const SlotRenewals& slot : slots) {
    if (!slot.renewsOnItsOwn()) continue;
    SlotRun run(slot.type);
    run.due = slot.due;
    run.nextAttempt = slot.nextAttempt;
    run.state = slot.state;
    if (!onlyDue || RenewalDue(now, *slot.due, slot.state)) {
      RenewalOrder order;
      order.type = slot.type;
      order.timeoutSeconds = timeoutSeconds;
      order.initiator = initiator;
      run.outcome = RunRenewal(order, with);
      run.ran = true;
    }
    runs.push_back(std::move(run));
  }
  return {};
}

RenewalOutcome RunEnrollment(const EnrollmentOrder& order, RenewalDependencies& with) {
  if (!order.type) return NoType();
  Plan plan(*order.type);
  plan.enrollment = &order;
  plan.tryPair = order.tryPair;
  plan.timeoutSeconds = order.timeoutSeconds;
  plan.initiator = order.initiator;
  return Renewal(plan, with).Run();
}

}  // namespace host::lifecycle
