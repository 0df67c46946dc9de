#pragma once

// The cookie store shared by the hub's workers. libcurl does not support sharing cookies between
// concurrently running handles, so each worker loads the store into its own handle before a transfer
// and merges back what that transfer changed. Cookies are kept as Netscape cookie-file lines, the
// form libcurl reads and reports them in.

#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

namespace morvale {

class CookieStore {
  public:
    // The cookie lines a transfer started with; handed back to Merge afterwards.
    using Snapshot = std::map<std::tuple<std::string, std::string, std::string>, std::string>;

    // Stores a cookie given as "name=value" with optional attributes ("; path=/") for `host`, as a
    // session cookie that only that host receives. False when the text holds no usable cookie.
    bool Add(std::string_view host, std::string_view cookieText);

    // Copies of the current lines, and merging one transfer's result: cookies it added or changed
    // replace the stored ones, cookies it removed are removed unless another transfer changed them
    // meanwhile.
    Snapshot Take() const;
    void Merge(const Snapshot& before, const std::vector<std::string>& after);

    std::vector<std::string> Lines() const;
    void Clear();

    // The key (domain, path, name) of a Netscape cookie line; false when the line is no cookie.
    static bool KeyOf(std::string_view line, Snapshot::key_type& key);

  private:
    mutable std::mutex mutex_;
    Snapshot cookies_;
};

}  // namespace morvale
