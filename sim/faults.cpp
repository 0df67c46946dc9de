#include "faults.h"

#include <algorithm>

#include "http_util.h"

namespace morvale::sim {
namespace {

struct KindName {
    FaultKind kind;
    const char* name;
};
constexpr KindName kKinds[] = {
    {FaultKind::Delay, "delay"},     {FaultKind::Silence, "silence"},
    {FaultKind::Status, "status"},   {FaultKind::Empty, "empty"},
    {FaultKind::Close, "close"},     {FaultKind::Truncate, "truncate"},
    {FaultKind::Garbage, "garbage"}, {FaultKind::Malformed, "malformed"},
    {FaultKind::Gzip, "gzip"},       {FaultKind::BadGzip, "badgzip"},
    {FaultKind::Raw, "raw"},
};

std::optional<std::string> FromHex(const std::string& hex) {
    if (hex.size() % 2) return std::nullopt;
    std::string out;
    for (size_t i = 0; i < hex.size(); i += 2) {
        auto nib = [](char c) -> int {
            if (c >= '0' && c <= '9') return c - '0';
            if (c >= 'a' && c <= 'f') return c - 'a' + 10;
            if (c >= 'A' && c <= 'F') return c - 'A' + 10;
            return -1;
        };
        int hi = nib(hex[i]), lo = nib(hex[i + 1]);
        if (hi < 0 || lo < 0) return std::nullopt;
        out += static_cast<char>(hi * 16 + lo);
    }
    return out;
}

}  // namespace

const char* FaultKindName(FaultKind kind) {
    for (const auto& k : kKinds)
        if (k.kind == kind) return k.name;
    return "?";
}

std::optional<Fault> FaultTable::FromJson(const Json& j, std::string* error) {
    Fault f;
    std::string path = j.Str("path");
    if (path.empty() || path[0] != '/') {
        *error = "path must start with /";
        return std::nullopt;
    }
    size_t q = path.find('?');
    f.path = path.substr(0, q);
    if (q != std::string::npos) f.query = path.substr(q + 1);
    std::string kind = j.Str("kind", "status");
    bool known = false;
    for (const auto& k : kKinds) {
        if (kind == k.name) {
            f.kind = k.kind;
            known = true;
        }
    }
    if (!known) {
        *error = "unknown kind " + kind;
        return std::nullopt;
    }
    f.count = static_cast<int>(j.Num("count", 1));
    f.delayMs = static_cast<int>(j.Num("delay_ms", f.kind == FaultKind::Silence ? 120000 : 0));
    f.status = static_cast<int>(j.Num("status", f.kind == FaultKind::Raw ? 200 : 500));
    f.body =
        j.Str("body", f.kind == FaultKind::Status ? "<html><body>Internal Server Error</body></html>" : "");
    if (j.Has("body_hex")) {
        auto bytes = FromHex(j.Str("body_hex"));
        if (!bytes) {
            *error = "body_hex is not hex";
            return std::nullopt;
        }
        f.body = *bytes;
    }
    f.contentType = j.Str("content_type", f.contentType);
    f.size = static_cast<int>(j.Num("size", 256));
    if (f.count == 0 || f.delayMs < 0 || f.size < 0 || f.status < 100 || f.status > 999) {
        *error = "count, delay_ms, size or status out of range";
        return std::nullopt;
    }
    return f;
}

void FaultTable::Add(Fault f) {
    std::lock_guard lock(mu_);
    faults_.push_back(std::move(f));
}

void FaultTable::Clear() {
    std::lock_guard lock(mu_);
    faults_.clear();
}

std::optional<Fault> FaultTable::Take(const std::string& path, const std::string& query) {
    std::lock_guard lock(mu_);
    for (auto it = faults_.begin(); it != faults_.end(); ++it) {
        bool pathOk = path.size() >= it->path.size() &&
                      path.compare(path.size() - it->path.size(), it->path.size(), it->path) == 0;
        if (!pathOk) continue;
        bool queryOk = true;
        Params want = ParseForm(it->query), have = ParseForm(query);
        for (const auto& [k, v] : want) {
            auto range = have.equal_range(k);
            queryOk = queryOk &&
                      std::any_of(range.first, range.second, [&](const auto& kv) { return kv.second == v; });
        }
        if (!queryOk) continue;
        Fault f = *it;
        if (it->count > 0 && --it->count == 0) faults_.erase(it);
        return f;
    }
    return std::nullopt;
}

Json FaultTable::List() {
    std::lock_guard lock(mu_);
    Json arr = Json::Array();
    for (const auto& f : faults_) {
        Json j = Json::Object();
        j["path"] = f.query.empty() ? f.path : f.path + "?" + f.query;
        j["kind"] = FaultKindName(f.kind);
        j["count"] = f.count;
        arr.Push(std::move(j));
    }
    return arr;
}

}  // namespace morvale::sim
