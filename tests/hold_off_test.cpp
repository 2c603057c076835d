// The hold-off in virtual time: what it answers to each change, timer and pass outcome.
#include "service/hold_off.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

namespace halvorsten::test {
namespace {

// Plays `events`, separated by blanks, on a fresh hold-off from time 0, and tells what it
// answered to each, the same way. Events: "wN", N milliseconds pass; "S", "P", "T", a change of
// the settings, one of the power source, the timer running out, now, with "+" when the pass it
// calls for (which takes no time) finds the setting on; "Fn", n rounds of a fight: a change
// right after the last pass, held, then the timer at its due time, and a pass that finds the
// setting on again. Answers: "run" ("run!" when the five-minute line is due), "holdN" (the timer
// armed N milliseconds from now), "-" (nothing); for each round, its hold-off's length (and
// "!").
std::string play(const std::string& events) {
  HoldOff holdOff;
  long long nowMs = 0;
  const auto told = [&](const HoldOffAnswer& answer, bool on) -> std::string {
    if (answer.act == HoldOffAnswer::HoldUntil)
      return "hold" + std::to_string(answer.untilMs - nowMs);
    if (answer.act == HoldOffAnswer::Nothing) return "-";
    return holdOff.passEnded(nowMs, on) ? "run!" : "run";
  };
  std::istringstream in(events);
  std::string answers;
  for (std::string event; in >> event;) {
    const bool on = event.back() == '+';
    if (event[0] == 'w') nowMs += std::stol(event.substr(1));
    if (event[0] == 'S') answers += told(holdOff.settingsChanged(nowMs), on) + " ";
    if (event[0] == 'P') answers += told(holdOff.powerSourceChanged(), on) + " ";
    if (event[0] == 'T') answers += told(holdOff.timerRanOut(), on) + " ";
    for (int round = event[0] == 'F' ? std::stoi(event.substr(1)) : 0; round > 0; --round) {
      const long long startMs = nowMs;
      nowMs = holdOff.settingsChanged(nowMs).untilMs;
      answers +=
          std::to_string(nowMs - startMs) + told(holdOff.timerRanOut(), true).substr(3) + " ";
    }
  }
  return answers.substr(0, answers.size() - 1);
}

TEST(HoldOffTest, AnswersEachChangeInVirtualTime) {
  const std::string doubling = "1000 2000 4000 8000 16000 32000 64000 128000 256000!";
  const std::pair<const char*, std::string> rows[] = {
      {"S", "run"},  // the first change at once; one whose pass found nothing holds none back
      {"S w1 S+ w1 S", "run run hold999"},
      {"P+ w1 S", "run run"},                                   // nor does one for the power source
      {"S+ w10 S w10 S w980 T w1 S", "run hold990 - run run"},  // held ones share a pass
      {"S+ F11", "run " + doubling + " 300000 300000"},         // the line once in a run
      {"S+ F9 P S+ F9", "run " + doubling + " run run " + doubling},          // and in the next
      {"S+ F3 S P+ S+ w1 S", "run 1000 2000 4000 hold8000 run run hold999"},  // a power change
      {"S+ F2 S w4000 T w1 S", "run 1000 2000 hold4000 run run"},  // a held pass found nothing
      {"S+ w10 S w1290 T+ w10 S", "run hold990 run hold1990"},     // a timer late by 300 ms
      {"S+ w10 S w1190 S+ w100 T w10 S", "run hold990 run - hold1890"},  // a change before it
      {"S+ w1000 S+ w1 S", "run run hold999"},  // a change at the end: a run starts afresh
      {"S+ w999 S w1 T", "run hold1 run"},      // one a millisecond before it
  };
  for (const auto& [events, answers] : rows) EXPECT_EQ(play(events), answers) << events;
}

}  // namespace
}  // namespace halvorsten::test
