#pragma once

namespace morvale {

// Initialises libcurl once per process. Called by the hub and every worker constructor, so that it
// happens before any worker thread starts.
void EnsureCurlGlobalInit();

}  // namespace morvale
