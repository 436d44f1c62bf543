// guide-sim --tracking: the tracking figures of one flight (sim/tracking.h)
// in words, a few indented lines under the flight's summary row.
#ifndef TOOLS_TRACKING_REPORT_H
#define TOOLS_TRACKING_REPORT_H

#include <string>

#include "sim/engagement_figures.h"
#include "sim/tracking.h"

std::string tracking_report(const std::string& aircraft, const Tracking& t);

// An engagement's figures (sim/engagement_figures.h), in the same manner.
std::string engagement_report(const EngagementFigures& f);

#endif
