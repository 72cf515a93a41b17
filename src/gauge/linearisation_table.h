#pragma once

namespace piezon
{

// How many raw units the gauge over-reports at this code; 0 where no correction applies
// (codes 0-7, 13 and 248-255, and anything outside 0-255).
int linearisationAmount(int code);

// The raw reading lowered by its correction. Every raw code is corrected at most once.
int linearise(int raw);

} // namespace piezon
