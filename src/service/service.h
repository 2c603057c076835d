// The service's wiring: what it does with each event the loop delivers. Every event goes to the
// hold-off, which answers when to make the one pass; each pass's outcome goes back to it. The
// lines that say how the service goes on, and the debug line of each wake-up and each pass, are
// logged here. All it touches is in the Machine it is given, so a test drives it in virtual
// time.
#pragma once

#include "platform/power_events.h"
#include "service/hold_off.h"
#include "service/machine.h"

namespace halvorsten {

class Service {
 public:
  explicit Service(Machine machine) : machine_(std::move(machine)) {}

  // The start: one pass at once. Without a subscription to power-source changes (no `watches`)
  // it logs the failure line and returns false, and the service ends. Otherwise it goes on as
  // the pass's outcome calls for, says what is not watched, logs the start line and returns
  // true.
  bool start(const Watches* watches);
  void powerSourceChanged();
  void settingsChanged();
  // Notices may have been lost; the platform's readings are whole again `afterMs` from now.
  void noticesLost(long afterMs);
  void timerRanOut();
  // Says once when a watch ends; nothing when it comes back.
  void watchesChanged(Watches watches);

 private:
  // One pass, and what it found, for the debug log.
  PassOutcome pass(bool afterLostNotices);
  // Does what the hold-off answered, with the loop's timer; the hold-off counts from the end of
  // the pass.
  void act(const HoldOffAnswer& answer);

  Machine machine_;
  HoldOff holdOff_;
  Watches watches_{true, true};
};

}  // namespace halvorsten
