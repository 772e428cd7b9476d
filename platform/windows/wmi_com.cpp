#include "platform/windows/wmi_com.h"

#define _WIN32_DCOM
#include <objbase.h>
#include <oleauto.h>
#include <wbemidl.h>
#include <windows.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <mutex>
#include <stop_token>

#include "cycle/cancellation.h"
#include "grid/error.h"
#include "platform/windows/com_ptr.h"
#include "platform/windows/com_text.h"
#include "platform/windows/variant_value.h"
#include "support/text.h"

namespace tavo::winwmi {

std::wstring namespacePath(const std::string& computer) {
    // WMI takes only "." as this computer without asking for a network logon;
    // its loopback addresses and own names fail or behave as a remote connection.
    const std::string target = wmi::isLocalComputer(computer) ? "." : computer;
    return L"\\\\" + toWide(target) + L"\\root\\CIMV2";
}

std::string queryInContext(const std::string& query) {
    // The class follows FROM; failures name it so the reader knows which report failed.
    const std::string lower = text::toLower(query);
    std::string out = "the query \"" + query + "\"";
    for (std::size_t at = lower.find("from"); at != std::string::npos;
         at = lower.find("from", at + 4)) {
        const bool wordBefore = at == 0 || text::isSpace(lower[at - 1]);
        const bool wordAfter = at + 4 < lower.size() && text::isSpace(lower[at + 4]);
        if (!wordBefore || !wordAfter) continue;
        std::size_t start = at + 4;
        while (start < query.size() && text::isSpace(query[start])) ++start;
        std::size_t end = start;
        while (end < query.size() &&
               (std::isalnum(static_cast<unsigned char>(query[end])) || query[end] == '_'))
            ++end;
        if (end > start) out += " on the class " + query.substr(start, end - start);
        break;
    }
    return out;
}

namespace {

using Clock = std::chrono::steady_clock;

// COM on the calling thread for as long as a connection lives. The window's
// thread is usually initialised already (apartment-threaded); that is fine.
class ComApartment {
  public:
    ComApartment() {
        const HRESULT hr = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        if (hr == RPC_E_CHANGED_MODE) return;  // someone chose another model: use theirs
        if (FAILED(hr)) throwHResult(hr, "Cannot start COM");
        owned_ = true;
        initialiseSecurityOnce();
    }
    ~ComApartment() {
        if (owned_) CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

  private:
    static void initialiseSecurityOnce() {
        // Once per process; a host that set its own security already answers
        // RPC_E_TOO_LATE, and its choice stands.
        static std::once_flag once;
        std::call_once(once, [] {
            CoInitializeSecurity(nullptr, -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_DEFAULT,
                                 RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
        });
    }
    bool owned_ = false;
};

class BStr {
  public:
    explicit BStr(const std::wstring& s) : b_(SysAllocString(s.c_str())) {}
    ~BStr() { SysFreeString(b_); }
    BStr(const BStr&) = delete;
    BStr& operator=(const BStr&) = delete;
    operator BSTR() const { return b_; }

  private:
    BSTR b_;
};

class Variant {
  public:
    Variant() { VariantInit(&v_); }
    ~Variant() { VariantClear(&v_); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
    VARIANT* operator&() { return &v_; }
    const VARIANT& get() const { return v_; }

  private:
    VARIANT v_;
};

class ComObject : public wmi::Object {
  public:
    explicit ComObject(ComPtr<IWbemClassObject> obj) : obj_(std::move(obj)) {}

    wmi::Value get(const std::string& name) const override {
        Variant v;
        CIMTYPE type = CIM_EMPTY;
        const std::wstring wide = toWide(name);
        const HRESULT hr = obj_->Get(wide.c_str(), 0, &v, &type, nullptr);
        if (FAILED(hr)) throwHResult(hr, "Cannot read the property " + name);
        return fromVariant(v.get(), type);
    }

    std::vector<std::string> propertyNames() const override {
        SAFEARRAY* names = nullptr;
        const HRESULT hr =
            obj_->GetNames(nullptr, WBEM_FLAG_ALWAYS | WBEM_FLAG_NONSYSTEM_ONLY, nullptr, &names);
        if (FAILED(hr)) throwHResult(hr, "Cannot list the properties");
        std::vector<std::string> out;
        LONG lo = 0, hi = -1;
        SafeArrayGetLBound(names, 1, &lo);
        SafeArrayGetUBound(names, 1, &hi);
        for (LONG i = lo; i <= hi; ++i) {
            BSTR name = nullptr;
            if (SUCCEEDED(SafeArrayGetElement(names, &i, &name))) {
                out.push_back(toUtf8(name, static_cast<int>(SysStringLen(name))));
                SysFreeString(name);
            }
        }
        SafeArrayDestroy(names);
        return out;
    }

  private:
    ComPtr<IWbemClassObject> obj_;
};

class ComResultSet : public wmi::ResultSet {
  public:
    ComResultSet(ComPtr<IEnumWbemClassObject> e, ComTimeouts t, std::string query)
        : enum_(std::move(e)),
          timeouts_(t),
          deadline_(Clock::now() + t.overall),
          query_(std::move(query)) {}

    std::unique_ptr<wmi::Object> next() override {
        if (done_) return nullptr;
        // Waits in short slices, so STOP ends a walk that waits on a slow
        // computer within a slice rather than within a whole per-call wait.
        const long slice = static_cast<long>(std::min(timeouts_.perCall, kStopSlice).count());
        const std::stop_token stop = cycle::currentStopToken();
        for (;;) {
            if (stop.stop_requested()) {
                done_ = true;
                return nullptr;
            }
            ComPtr<IWbemClassObject> obj;
            ULONG returned = 0;
            const HRESULT hr = enum_->Next(slice, 1, obj.put(), &returned);
            if (hr == WBEM_S_TIMEDOUT) {
                // Still waiting: give the computer until the walk's deadline.
                if (Clock::now() >= deadline_) timedOut();
                continue;
            }
            if (FAILED(hr)) {
                done_ = true;
                throwHResult(hr, "Reading the results of " + queryInContext(query_) + " failed");
            }
            if (returned == 0) {
                done_ = true;
                return nullptr;
            }
            // A computer that trickles objects just inside each wait must not
            // stretch the walk past its deadline either.
            if (Clock::now() >= deadline_) timedOut();
            return std::make_unique<ComObject>(std::move(obj));
        }
    }

  private:
    static constexpr std::chrono::milliseconds kStopSlice{250};

    [[noreturn]] void timedOut() {
        done_ = true;
        throw Error(errc::kTimedOut,
                    "The management service stopped answering: the objects did not arrive "
                    "within " +
                        std::to_string(timeouts_.overall.count() / 1000) + " seconds");
    }

    ComPtr<IEnumWbemClassObject> enum_;
    ComTimeouts timeouts_;
    Clock::time_point deadline_;
    std::string query_;
    bool done_ = false;
};

class ComConnection : public wmi::Connection {
  public:
    ComConnection(const std::string& computer, ComTimeouts timeouts) : timeouts_(timeouts) {
        ComPtr<IWbemLocator> locator;
        HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER,
                                      IID_IWbemLocator, reinterpret_cast<void**>(locator.put()));
        if (FAILED(hr)) throwHResult(hr, "Cannot start the management service client");

        // No user, password or authority: the caller's own credentials.
        const BStr path(namespacePath(computer));
        // USE_MAX_WAIT bounds the connect to two minutes for a computer that never answers.
        hr = locator->ConnectServer(path, nullptr, nullptr, nullptr, WBEM_FLAG_CONNECT_USE_MAX_WAIT,
                                    nullptr, nullptr, services_.put());
        if (FAILED(hr)) throwHResult(hr, "Cannot connect to " + computer);

        hr = CoSetProxyBlanket(services_.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                               RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                               EOAC_NONE);
        if (FAILED(hr))
            throwHResult(hr, "Cannot set the security of the connection to " + computer);
    }

    std::unique_ptr<wmi::ResultSet> execQuery(const std::string& query) override {
        const BStr language(L"WQL");
        const BStr text(toWide(query));
        ComPtr<IEnumWbemClassObject> e;
        // Forward-only and semi-synchronous: objects arrive as the walk asks,
        // and Next's timeout bounds each wait.
        const HRESULT hr = services_->ExecQuery(
            language, text, WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
            e.put());
        if (FAILED(hr)) {
            std::string what = queryInContext(query);
            what[0] = 'T';  // it starts the message
            throwHResult(hr, what + " failed");
        }
        CoSetProxyBlanket(e.get(), RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                          RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE);
        return std::make_unique<ComResultSet>(std::move(e), timeouts_, query);
    }

  private:
    ComApartment apartment_;  // declared first: outlives the proxies below
    ComPtr<IWbemServices> services_;
    ComTimeouts timeouts_;
};

class ComBackend : public wmi::Backend {
  public:
    explicit ComBackend(ComTimeouts t) : timeouts_(t) {}
    std::unique_ptr<wmi::Connection> connect(const std::string& computer) override {
        return std::make_unique<ComConnection>(computer, timeouts_);
    }

  private:
    ComTimeouts timeouts_;
};

}  // namespace

std::shared_ptr<wmi::Backend> makeComBackend(ComTimeouts timeouts) {
    return std::make_shared<ComBackend>(timeouts);
}

}  // namespace tavo::winwmi
