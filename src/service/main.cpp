// The service's entry point.
#include "activitylog/activity_log.h"
#include "service/enforce.h"

#ifndef HALVORSTEN_LOG
#define HALVORSTEN_LOG "/Library/Logs/Quorvani-Halvorsten.log"
#endif

int main() {
  halvorsten::logURL = HALVORSTEN_LOG;
  halvorsten::enforce();
  return 0;
}
