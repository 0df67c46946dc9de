#include "net/curl_global.h"

#include <curl/curl.h>

#include <mutex>

namespace morvale {

void EnsureCurlGlobalInit() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

}  // namespace morvale
