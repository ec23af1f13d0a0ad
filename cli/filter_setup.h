// The filter instances a run applies: one settings record each, made as the
// host makes them (zero-filled, InitSettings, then the Config line).
#ifndef DELBRIN_CLI_FILTER_SETUP_H
#define DELBRIN_CLI_FILTER_SETUP_H

#include <vector>

#include "options.h"
#include "patch_settings.h"

std::vector<PatchSettings> MakeInstances(const Options& options, bool border);

// A rectangle from a Config line is not checked by the host; the core patches
// only the part inside the frame. Says on stderr what that part is.
void WarnAboutRectangles(const std::vector<PatchSettings>& instances, int frameWidth, int frameHeight);

// Prints each instance's Config line and the host's summary of it.
void PrintConfigs(const std::vector<PatchSettings>& instances);

#endif
