// The hold-off in virtual time: what it answers to each change, timer and pass outcome. That a
// fight at any pace keeps the bounds is the service fuzzer's to prove (fuzz/service_fuzzer.cpp).
#include "service/hold_off.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace halvorsten::test {
namespace {

// Plays `events`, separated by blanks, on a fresh hold-off from time 0, and tells what it
// answered to each. "wN": N ms pass; "S", "P", "T": a change of the settings, of the power source,
// the timer running out, "L" notices lost (a pass when the readings are whole, 5000 ms on), "+"
// when the pass it calls for (taking no time) clears the setting, "x" when its clear fails, "u"
// when it cannot tell; "Fn": n
// rounds of a fight (a change right after the pass, held, the timer when due, a pass that clears
// again); "Rn": n retries (the timer when due, a clear that fails again).
// Answers: "run" ("*" read as after lost notices, "!" the five-minute line, "?" the keeps-trying
// line, "@N" the timer armed N ms on), "holdN" (the timer armed N ms on), "-" (nothing); a round,
// its hold-off ("!") or "@N".
std::string play(const std::string& events) {
  HoldOff holdOff;
  long long nowMs = 0, dueMs = 0;
  const auto told = [&](const HoldOffAnswer& answer, char outcome) -> std::string {
    if (answer.act == HoldOffAnswer::HoldUntil)
      return "hold" + std::to_string(answer.untilMs - nowMs);
    if (answer.act == HoldOffAnswer::Nothing) return "-";
    const HoldOffAnswer next =
        holdOff.passEnded(nowMs, outcome == '+'   ? PassOutcome::Cleared
                                 : outcome == 'x' ? PassOutcome::ClearFailed
                                 : outcome == 'u' ? PassOutcome::CouldNotTell
                                                  : PassOutcome::NothingToClear);
    dueMs = next.untilMs;
    std::string said = answer.afterLostNotices ? "run*" : "run";
    if (next.line != HoldOffAnswer::NoLine)
      said += next.line == HoldOffAnswer::TryingAgain ? '?' : '!';
    if (next.act == HoldOffAnswer::HoldUntil)
      said.append(1, '@').append(std::to_string(dueMs - nowMs));
    return said;
  };
  std::istringstream in(events);
  std::string answers;
  for (std::string event; in >> event;) {
    const char outcome = event.back();
    if (event[0] == 'w') nowMs += std::stol(event.substr(1));
    if (event[0] == 'S') answers += told(holdOff.settingsChanged(nowMs), outcome) + " ";
    if (event[0] == 'P') answers += told(holdOff.powerSourceChanged(), outcome) + " ";
    if (event[0] == 'T') answers += told(holdOff.timerRanOut(nowMs), outcome) + " ";
    if (event[0] == 'L') answers += told(holdOff.noticesLost(nowMs, 5000), outcome) + " ";
    const bool fight = event[0] == 'F';
    for (int round = fight || event[0] == 'R' ? std::stoi(event.substr(1)) : 0; round > 0;
         --round) {
      const long long startMs = nowMs;
      nowMs = fight ? holdOff.settingsChanged(nowMs).untilMs : dueMs;
      if (fight) answers += std::to_string(nowMs - startMs);
      answers += told(holdOff.timerRanOut(nowMs), fight ? '+' : 'x').erase(0, 3) + " ";
    }
  }
  return answers.substr(0, answers.size() - 1);
}

TEST(HoldOffTest, AnswersEachChangeInVirtualTime) {
  const std::string doubling = "1000 2000 4000 8000 16000 32000!", five = " 300000";
  const std::string retries = "@2000 @4000 @8000 @16000 @32000 @300000 @300000 @300000 @300000";
  const std::pair<const char*, std::string> rows[] = {
      {"S", "run"},  // the first change at once; one whose pass found nothing holds none back
      {"S w1 S+ w1 S", "run run hold999"},
      {"P+ w1 S", "run run"},                                   // nor does one for the power source
      {"S+ w10 S w10 S w980 T w1 S", "run hold990 - run run"},  // held ones share a pass
      {"S+ F8", "run " + doubling + five + five},               // a minute on: five minutes
      {"S+ F7 P S+ F7",
       "run " + doubling + five + " run run " + doubling + five},             // the line again
      {"S+ F3 S P+ S+ w1 S", "run 1000 2000 4000 hold8000 run run hold999"},  // a power change
      // A held pass that found nothing keeps the run: the next clear doubles the hold-off.
      {"S+ F2 S w4000 T w1 S+ w1 S", "run 1000 2000 hold4000 run run hold7999"},
      {"S+ w10 S w1290 T+ w10 S", "run hold990 run hold1990"},           // a timer late by 300 ms
      {"S+ w10 S w1190 S+ w100 T w10 S", "run hold990 run - hold1890"},  // a change before it
      {"S+ w1000 S+ w1 S", "run run hold1999"},      // a change at the end: at once, and doubling
      {"S+ w60000 S+ w1 S", "run run! hold299999"},  // a fight a minute old: five minutes
      // Ten minutes with no clear end the run; a minute less leaves it at five minutes.
      {"S+ F7 w600000 S+ w1 S", "run " + doubling + five + " run hold999"},
      {"S+ F7 w599999 S+ w1 S", "run " + doubling + five + " run hold299999"},
      {"S+ w999 S w1 T", "run hold1 run"},  // one a millisecond before it
      // A failed clear, whatever called for its pass, is tried again, ever less often, with
      // the line once; changes meanwhile share the retry; it ends when a clear holds (its echo
      // held), when the power source changes, or when a pass finds nothing to clear.
      {"Px R9 R1", "run?@1000 " + retries + " @300000"},
      {"Sx w1000 Tx w10 S w1990 T+ w1 S", "run?@1000 run@2000 - run hold3999"},
      {"Px w10 P w990 T w1 S", "run?@1000 run - run"},
      {"P+ w10 Px w1000 T w1 S", "run run?@1000 run run"},
      {"Px w1000 T+ w2000 Sx", "run?@1000 run run?@4000"},  // the line again after a clear held
      // Lost notices: a pass once the readings are whole, as for the power source; it waits
      // beside a held pass and the passes meanwhile, and a second loss moves it on.
      {"L w4999 T w1 T+ w1 S", "hold5000 hold1 run* run"},
      {"S+ w10 L w10 S w980 T w4010 T", "run hold5000 hold980 run@4010 run*"},
      {"L w10 P+ w1000 L w5000 T", "hold5000 run@4990 hold5000 run*"},
      // Its tries read the power source as it did, until one is verified or the power changes.
      {"L w5000 Tu w1000 Tu w2000 T w1 Su P", "hold5000 run*?@1000 run*@2000 run* run?@4000 run"},
  };
  for (const auto& [events, answers] : rows) EXPECT_EQ(play(events), answers) << events;
}

}  // namespace
}  // namespace halvorsten::test
