#include "platform/fake/fake_registry.h"

#include <algorithm>
#include <cstring>

#include "base/text.h"

namespace tide::platform::fake {

namespace {

std::atomic<FakeRegistry*> gDeleteExTarget{nullptr};

long TIDE_WINAPI FakeRegDeleteKeyExW(HKEY hKey, const wchar_t* lpSubKey, uint32_t samDesired, uint32_t reserved) {
    FakeRegistry* r = gDeleteExTarget.load();
    if (r == nullptr || reserved != 0) return kRegInvalidParameter;
    return r->DeleteKeyEx(hKey, lpSubKey ? lpSubKey : L"", samDesired);
}

void* const kAdvApi32 = reinterpret_cast<void*>(static_cast<uintptr_t>(0x7FFE0000));

const wchar_t* RootName(HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return L"hklm";
    if (key == HKEY_CURRENT_USER) return L"hkcu";
    if (key == HKEY_CLASSES_ROOT) return L"hkcr";
    if (key == HKEY_USERS) return L"hku";
    return nullptr;
}

// Splits "a\\b\\c" into its non-empty parts.
std::vector<std::wstring> Parts(const std::wstring& path) {
    std::vector<std::wstring> out;
    std::wstring cur;
    for (wchar_t c : path) {
        if (c == L'\\') {
            if (!cur.empty()) out.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    if (!cur.empty()) out.push_back(cur);
    return out;
}

}  // namespace

FakeRegistry::FakeRegistry(MachineKind kind) : kind_(kind) {
    for (const wchar_t* r : {L"HKLM", L"HKCU", L"HKCR", L"HKU"}) keys_[Lower(r)] = Key{r, {}};
    CreatePath(L"HKLM\\Software");
    CreatePath(L"HKCU\\Software");
    if (kind != MachineKind::Windows32) CreatePath(L"HKLM\\Software\\WOW6432Node");
}

FakeRegistry::~FakeRegistry() {
    FakeRegistry* self = this;
    gDeleteExTarget.compare_exchange_strong(self, nullptr);
}

std::wstring FakeRegistry::Lower(const std::wstring& s) { return LowerCase(s); }

std::wstring FakeRegistry::Normalize(const std::wstring& path) {
    std::vector<std::wstring> parts = Parts(path);
    if (parts.empty()) return std::wstring();
    std::wstring root = UpperCase(parts[0]);
    if (root == L"HKEY_LOCAL_MACHINE") root = L"HKLM";
    else if (root == L"HKEY_CURRENT_USER") root = L"HKCU";
    else if (root == L"HKEY_CLASSES_ROOT") root = L"HKCR";
    else if (root == L"HKEY_USERS") root = L"HKU";
    std::wstring out = root;
    for (size_t i = 1; i < parts.size(); ++i) out += L"\\" + parts[i];
    return out;
}

bool FakeRegistry::Redirect32(uint32_t sam) const {
    if (kind_ == MachineKind::Windows32) return false;
    if (sam & KEY_WOW64_64KEY) return false;
    if (sam & KEY_WOW64_32KEY) return true;
    return kind_ == MachineKind::Wow64Process;
}

// Joins sub onto the parent and applies the 32-bit view's redirection of
// HKLM\Software to HKLM\Software\WOW6432Node.
std::wstring FakeRegistry::Resolve(const std::wstring& parentLower, const std::wstring& sub, uint32_t sam) const {
    std::vector<std::wstring> parts = Parts(parentLower);
    for (const std::wstring& p : Parts(sub)) parts.push_back(Lower(p));
    if (Redirect32(sam) && parts.size() >= 2 && parts[0] == L"hklm" && parts[1] == L"software" &&
        (parts.size() == 2 || parts[2] != L"wow6432node")) {
        parts.insert(parts.begin() + 2, L"wow6432node");
    }
    std::wstring out;
    for (size_t i = 0; i < parts.size(); ++i) out += (i ? L"\\" : L"") + parts[i];
    return out;
}

long FakeRegistry::PathOf(HKEY key, std::wstring* lower, uint32_t* sam) {
    if (const wchar_t* root = RootName(key)) {
        *lower = root;
        *sam = KEY_ALL_ACCESS;
        return kRegOk;
    }
    auto it = handles_.find(key);
    if (it == handles_.end()) {
        return kRegInvalidHandle;
    }
    if (!Exists(it->second.key)) {
        return kRegKeyDeleted;
    }
    *lower = it->second.key;
    *sam = it->second.sam;
    return kRegOk;
}

bool FakeRegistry::Exists(const std::wstring& lower) const { return keys_.count(lower) > 0; }

std::vector<std::wstring> FakeRegistry::ChildrenOf(const std::wstring& lower) const {
    std::vector<std::wstring> out;
    std::wstring prefix = lower + L"\\";
    for (auto it = keys_.lower_bound(prefix); it != keys_.end() && StartsWith(it->first, prefix); ++it) {
        if (it->first.find(L'\\', prefix.size()) == std::wstring::npos) out.push_back(it->first);
    }
    return out;
}

void FakeRegistry::CreatePath(const std::wstring& display) {
    std::vector<std::wstring> parts = Parts(display);
    std::wstring disp, low;
    for (size_t i = 0; i < parts.size(); ++i) {
        disp += (i ? L"\\" : L"") + parts[i];
        low += (i ? L"\\" : L"") + Lower(parts[i]);
        if (!keys_.count(low)) keys_[low] = Key{disp, {}};
        disp = keys_[low].path;  // keep the spelling of an existing key
    }
}

HKEY FakeRegistry::NewHandle(const std::wstring& lower, uint32_t sam) {
    HKEY h = reinterpret_cast<HKEY>(nextHandle_);
    nextHandle_ += 4;
    handles_[h] = Handle{lower, sam};
    return h;
}

bool FakeRegistry::WriteDenied(const std::wstring& lower) const {
    return denyWrites_ && StartsWith(lower, L"hklm");
}

long FakeRegistry::OpenKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring base;
    uint32_t baseSam = 0;
    if (long rc = PathOf(parent, &base, &baseSam)) return rc;
    std::wstring target = Resolve(base, subKey, sam);
    if (!Exists(target)) return kRegFileNotFound;
    if ((sam & (KEY_SET_VALUE | KEY_CREATE_SUB_KEY)) && WriteDenied(target)) return kRegAccessDenied;
    *result = NewHandle(target, sam);
    return kRegOk;
}

long FakeRegistry::CreateKey(HKEY parent, const std::wstring& subKey, uint32_t sam, HKEY* result) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring base;
    uint32_t baseSam = 0;
    if (long rc = PathOf(parent, &base, &baseSam)) return rc;
    std::wstring target = Resolve(base, subKey, sam);
    if (WriteDenied(target)) return kRegAccessDenied;
    if (!Exists(target)) {
        // Build the display path: the existing ancestors' spelling, then the
        // new parts as given.
        std::vector<std::wstring> low = Parts(target);
        std::vector<std::wstring> given = Parts(subKey);
        std::wstring disp;
        std::wstring cur;
        size_t fromGiven = low.size() >= given.size() ? low.size() - given.size() : 0;
        for (size_t i = 0; i < low.size(); ++i) {
            cur += (i ? L"\\" : L"") + low[i];
            std::wstring part = keys_.count(cur) ? Parts(keys_[cur].path).back()
                                : (i >= fromGiven ? given[i - fromGiven] : low[i]);
            disp += (i ? L"\\" : L"") + part;
        }
        CreatePath(disp);
    }
    *result = NewHandle(target, sam);
    return kRegOk;
}

long FakeRegistry::CloseKey(HKEY key) {
    std::lock_guard<std::mutex> lock(mu_);
    if (RootName(key)) return kRegOk;
    return handles_.erase(key) ? kRegOk : kRegInvalidHandle;
}

long FakeRegistry::QueryValue(HKEY key, const std::wstring& name, uint32_t* type, std::vector<uint8_t>* data) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring path;
    uint32_t sam = 0;
    if (long rc = PathOf(key, &path, &sam)) return rc;
    if (!(sam & KEY_QUERY_VALUE)) return kRegAccessDenied;
    const Key& k = keys_.at(path);
    auto it = k.values.find(Lower(name));
    if (it == k.values.end()) return kRegFileNotFound;
    if (type) *type = it->second.type;
    if (data) *data = it->second.data;
    return kRegOk;
}

long FakeRegistry::SetValue(HKEY key, const std::wstring& name, uint32_t type, const void* data, uint32_t size) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring path;
    uint32_t sam = 0;
    if (long rc = PathOf(key, &path, &sam)) return rc;
    if (!(sam & KEY_SET_VALUE) || WriteDenied(path)) return kRegAccessDenied;
    Value v;
    v.name = name;
    v.type = type;
    v.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + size);
    Key& k = keys_.at(path);
    auto it = k.values.find(Lower(name));
    if (it != k.values.end()) v.name = it->second.name;
    k.values[Lower(name)] = v;
    return kRegOk;
}

long FakeRegistry::DeleteValue(HKEY key, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring path;
    uint32_t sam = 0;
    if (long rc = PathOf(key, &path, &sam)) return rc;
    if (!(sam & KEY_SET_VALUE) || WriteDenied(path)) return kRegAccessDenied;
    return keys_.at(path).values.erase(Lower(name)) ? kRegOk : kRegFileNotFound;
}

long FakeRegistry::DeleteAt(HKEY parent, const std::wstring& subKey, uint32_t sam) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring base;
    uint32_t baseSam = 0;
    if (long rc = PathOf(parent, &base, &baseSam)) return rc;
    if (Parts(subKey).empty()) return kRegAccessDenied;  // cannot delete the key itself this way
    std::wstring target = Resolve(base, subKey, sam);
    if (!Exists(target)) return kRegFileNotFound;
    if (Parts(target).size() < 2 || WriteDenied(target)) return kRegAccessDenied;
    if (!ChildrenOf(target).empty()) return kRegAccessDenied;  // as RegDeleteKey: no subkeys allowed
    deleted_.push_back(keys_[target].path);
    keys_.erase(target);
    return kRegOk;
}

long FakeRegistry::DeleteKey(HKEY parent, const std::wstring& subKey) { return DeleteAt(parent, subKey, 0); }

long FakeRegistry::DeleteKeyEx(HKEY parent, const std::wstring& subKey, uint32_t samDesired) {
    return DeleteAt(parent, subKey, samDesired & (KEY_WOW64_64KEY | KEY_WOW64_32KEY));
}

long FakeRegistry::EnumKey(HKEY key, uint32_t index, uint32_t bufferChars, std::wstring* name) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring path;
    uint32_t sam = 0;
    if (long rc = PathOf(key, &path, &sam)) return rc;
    if (!(sam & KEY_ENUMERATE_SUB_KEYS)) return kRegAccessDenied;
    std::vector<std::wstring> kids = ChildrenOf(path);
    if (index >= kids.size()) return kRegNoMoreItems;
    std::wstring n = Parts(keys_[kids[index]].path).back();
    if (n.size() + 1 > bufferChars) return kRegMoreData;
    *name = n;
    return kRegOk;
}

long FakeRegistry::EnumValue(HKEY key, uint32_t index, std::wstring* name) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring path;
    uint32_t sam = 0;
    if (long rc = PathOf(key, &path, &sam)) return rc;
    if (!(sam & KEY_QUERY_VALUE)) return kRegAccessDenied;
    const Key& k = keys_.at(path);
    if (index >= k.values.size()) return kRegNoMoreItems;
    auto it = k.values.begin();
    std::advance(it, index);
    *name = it->second.name;
    return kRegOk;
}

long FakeRegistry::QueryInfoKey(HKEY key, RegKeyInfo* info) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring path;
    uint32_t sam = 0;
    if (long rc = PathOf(key, &path, &sam)) return rc;
    if (!(sam & KEY_QUERY_VALUE)) return kRegAccessDenied;
    *info = RegKeyInfo();
    for (const std::wstring& kid : ChildrenOf(path)) {
        ++info->numSubKeys;
        info->maxSubKeyLen = std::max<uint32_t>(info->maxSubKeyLen, Parts(keys_[kid].path).back().size());
    }
    for (const auto& v : keys_[path].values) {
        ++info->numValues;
        info->maxValueLen = std::max<uint32_t>(info->maxValueLen, v.second.name.size());
        info->maxDataLen = std::max<uint32_t>(info->maxDataLen, v.second.data.size());
    }
    return kRegOk;
}

void* FakeRegistry::LoadAdvApi32() {
    std::lock_guard<std::mutex> lock(mu_);
    ++loads_;
    return kAdvApi32;
}

TRegDeleteKeyEx FakeRegistry::FindRegDeleteKeyEx(void* library) {
    std::lock_guard<std::mutex> lock(mu_);
    if (library != kAdvApi32 || !hasDeleteEx_) return nullptr;
    gDeleteExTarget = this;
    return &FakeRegDeleteKeyExW;
}

void FakeRegistry::FreeLibrary(void* library) {}

void FakeRegistry::SetMachine(MachineKind kind) {
    std::lock_guard<std::mutex> lock(mu_);
    kind_ = kind;
    if (kind != MachineKind::Windows32) CreatePath(L"HKLM\\Software\\WOW6432Node");
}

MachineKind FakeRegistry::Machine() {
    std::lock_guard<std::mutex> lock(mu_);
    return kind_;
}

void FakeRegistry::SetDenyMachineWrites(bool deny) {
    std::lock_guard<std::mutex> lock(mu_);
    denyWrites_ = deny;
}

void FakeRegistry::SetHasRegDeleteKeyEx(bool has) {
    std::lock_guard<std::mutex> lock(mu_);
    hasDeleteEx_ = has;
}

bool FakeRegistry::HasKey(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    return Exists(Lower(Normalize(path)));
}

bool FakeRegistry::HasValue(const std::wstring& path, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = keys_.find(Lower(Normalize(path)));
    return it != keys_.end() && it->second.values.count(Lower(name));
}

std::wstring FakeRegistry::GetString(const std::wstring& path, const std::wstring& name) {
    std::lock_guard<std::mutex> lock(mu_);
    auto it = keys_.find(Lower(Normalize(path)));
    if (it == keys_.end()) return std::wstring();
    auto v = it->second.values.find(Lower(name));
    if (v == it->second.values.end()) return std::wstring();
    std::wstring s(v->second.data.size() / sizeof(wchar_t), L'\0');
    if (!s.empty()) std::memcpy(&s[0], v->second.data.data(), s.size() * sizeof(wchar_t));
    size_t end = s.find(L'\0');
    if (end != std::wstring::npos) s.resize(end);
    return s;
}

void FakeRegistry::PutString(const std::wstring& path, const std::wstring& name, const std::wstring& value) {
    std::lock_guard<std::mutex> lock(mu_);
    std::wstring n = Normalize(path);
    CreatePath(n);
    Value v;
    v.name = name;
    v.type = REG_SZ;
    const uint8_t* p = reinterpret_cast<const uint8_t*>(value.c_str());
    v.data.assign(p, p + (value.size() + 1) * sizeof(wchar_t));
    keys_[Lower(n)].values[Lower(name)] = v;
}

void FakeRegistry::PutKey(const std::wstring& path) {
    std::lock_guard<std::mutex> lock(mu_);
    CreatePath(Normalize(path));
}

std::vector<std::wstring> FakeRegistry::DeletedKeys() {
    std::lock_guard<std::mutex> lock(mu_);
    return deleted_;
}

size_t FakeRegistry::OpenHandleCount() {
    std::lock_guard<std::mutex> lock(mu_);
    return handles_.size();
}

int FakeRegistry::LibraryLoads() {
    std::lock_guard<std::mutex> lock(mu_);
    return loads_;
}

// ---------------------------------------------------------------------------

namespace {
void ProbesFor(MachineKind kind, FakeWow64Probes& probes) {
    switch (kind) {
        case MachineKind::Windows32: probes.Set(Wow64Probes::Wow64::No, kProcessorX86); break;
        case MachineKind::Wow64Process: probes.Set(Wow64Probes::Wow64::Yes, kProcessorAmd64); break;
        case MachineKind::Native64Process: probes.Set(Wow64Probes::Wow64::No, kProcessorAmd64); break;
    }
}
}  // namespace

ScopedFakeMachine::ScopedFakeMachine(MachineKind kind)
    : registry(kind), regPort_(registry), probePort_(probes) {
    ProbesFor(kind, probes);
}

void ScopedFakeMachine::Set(MachineKind kind) {
    registry.SetMachine(kind);
    ProbesFor(kind, probes);
}

}  // namespace tide::platform::fake

namespace tide::platform {
// The native build's machine: a 32-bit process on 64-bit Windows, the
// installer's usual setting.
template <>
Registry& Port<Registry>::Default() {
    static fake::FakeRegistry instance(fake::MachineKind::Wow64Process);
    return instance;
}
template <>
Wow64Probes& Port<Wow64Probes>::Default() {
    static fake::FakeWow64Probes instance(Wow64Probes::Wow64::Yes, kProcessorAmd64);
    return instance;
}
}  // namespace tide::platform
