#include "net/cookie_store.h"

#include "core/text_utils.h"

namespace morvale {
namespace {

bool HasLineBreakOrTab(std::string_view text) {
    return text.find_first_of("\t\r\n") != std::string_view::npos;
}

}  // namespace

bool CookieStore::KeyOf(std::string_view line, Snapshot::key_type& key) {
    std::vector<std::string_view> fields;
    size_t pos = 0;
    while (fields.size() < 6) {
        const size_t tab = line.find('\t', pos);
        if (tab == std::string_view::npos) return false;
        fields.push_back(line.substr(pos, tab - pos));
        pos = tab + 1;
    }
    std::string_view domain = fields[0];
    constexpr std::string_view kHttpOnly = "#HttpOnly_";
    if (domain.substr(0, kHttpOnly.size()) == kHttpOnly) domain.remove_prefix(kHttpOnly.size());
    if (domain.empty() || fields[5].empty()) return false;
    key = {std::string(domain), std::string(fields[2]), std::string(fields[5])};
    return true;
}

bool CookieStore::Add(std::string_view host, std::string_view cookieText) {
    const std::vector<std::string> parts = Split(cookieText, ";");
    if (parts.empty() || host.empty() || HasLineBreakOrTab(host)) return false;
    const std::string& pair = parts[0];
    const size_t eq = pair.find('=');
    if (eq == std::string::npos) return false;
    const std::string name = Trim(std::string_view(pair).substr(0, eq));
    const std::string value = Trim(std::string_view(pair).substr(eq + 1));
    if (name.empty() || HasLineBreakOrTab(name) || HasLineBreakOrTab(value)) return false;
    std::string path = "/";
    for (size_t i = 1; i < parts.size(); ++i) {
        const size_t aeq = parts[i].find('=');
        if (aeq == std::string::npos) continue;
        if (EqualsNoCase(Trim(std::string_view(parts[i]).substr(0, aeq)), "path")) {
            std::string p = Trim(std::string_view(parts[i]).substr(aeq + 1));
            if (!p.empty() && p[0] == '/' && !HasLineBreakOrTab(p)) path = p;
        }
    }
    // Host-only (no subdomains), any scheme, session cookie (expiry 0).
    std::string line = std::string(host) + "\tFALSE\t" + path + "\tFALSE\t0\t" + name + "\t" + value;
    Snapshot::key_type key;
    if (!KeyOf(line, key)) return false;
    std::lock_guard lock(mutex_);
    cookies_[key] = std::move(line);
    return true;
}

CookieStore::Snapshot CookieStore::Take() const {
    std::lock_guard lock(mutex_);
    return cookies_;
}

void CookieStore::Merge(const Snapshot& before, const std::vector<std::string>& after) {
    Snapshot now;
    for (const auto& line : after) {
        Snapshot::key_type key;
        if (KeyOf(line, key)) now[key] = line;
    }
    std::lock_guard lock(mutex_);
    for (const auto& [key, line] : now) {
        auto was = before.find(key);
        if (was == before.end() || was->second != line) cookies_[key] = line;
    }
    for (const auto& [key, line] : before) {
        if (now.count(key) != 0) continue;
        auto it = cookies_.find(key);
        if (it != cookies_.end() && it->second == line) cookies_.erase(it);
    }
}

std::vector<std::string> CookieStore::Lines() const {
    std::lock_guard lock(mutex_);
    std::vector<std::string> lines;
    for (const auto& [key, line] : cookies_) lines.push_back(line);
    return lines;
}

void CookieStore::Clear() {
    std::lock_guard lock(mutex_);
    cookies_.clear();
}

}  // namespace morvale
