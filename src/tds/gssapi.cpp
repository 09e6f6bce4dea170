#include "tds/gssapi.h"

#include "tds/error.h"

#include <gssapi/gssapi.h>

#include <condition_variable>
#include <dlfcn.h>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>
#include <type_traits>

namespace rz::tds {

namespace {

gss_OID_desc spnegoMechanism{6, const_cast<char *>("\x2b\x06\x01\x05\x05\x02")};                // 1.3.6.1.5.5.2
gss_OID_desc kerberosMechanism{9, const_cast<char *>("\x2a\x86\x48\x86\xf7\x12\x01\x02\x02")};  // 1.2.840.113554.1.2.2
// GSS_KRB5_NT_PRINCIPAL_NAME: "service/host:port" is taken as written, with
// no host name canonicalisation, as SQL Server's SPNs need.
gss_OID_desc kerberosPrincipalName{10, const_cast<char *>("\x2a\x86\x48\x86\xf7\x12\x01\x02\x02\x01")};

struct GssapiFunctions {
    decltype(&gss_acquire_cred) acquireCred = nullptr;
    decltype(&gss_release_cred) releaseCred = nullptr;
    decltype(&gss_import_name) importName = nullptr;
    decltype(&gss_release_name) releaseName = nullptr;
    decltype(&gss_init_sec_context) initSecContext = nullptr;
    decltype(&gss_delete_sec_context) deleteSecContext = nullptr;
    decltype(&gss_release_buffer) releaseBuffer = nullptr;
    decltype(&gss_display_status) displayStatus = nullptr;
    decltype(&gss_indicate_mechs) indicateMechs = nullptr;
    decltype(&gss_release_oid_set) releaseOidSet = nullptr;
    // An extension (MIT, Heimdal) that limits what SPNEGO offers; without it
    // SPNEGO offers every mechanism the library has.
    OM_uint32 (*setNegMechs)(OM_uint32 *, gss_cred_id_t, const gss_OID_set) = nullptr;
};

// Loaded once per process and never unloaded: a step abandoned at its
// time-out may still be running in the library.
const GssapiFunctions &gssapiLibrary(const std::string &library)
{
    static std::mutex mutex;
    static std::map<std::string, GssapiFunctions> loaded;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto found = loaded.find(library); found != loaded.end())
        return found->second;
    void *handle = ::dlopen(library.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!handle) {
        const char *reason = ::dlerror();
        throw TdsError(ErrorKind::Authentication,
                       "Integrated security needs the GSSAPI library " + library +
                           " (MIT Kerberos; Debian's libgssapi-krb5-2), which is not installed: " +
                           (reason ? reason : "it cannot be loaded"));
    }
    GssapiFunctions f;
    std::string missing;
    auto bind = [&](auto &target, const char *name) {
        target = reinterpret_cast<std::remove_reference_t<decltype(target)>>(::dlsym(handle, name));
        if (!target && name != std::string("gss_set_neg_mechs"))
            missing += std::string(missing.empty() ? "" : ", ") + name;
    };
    bind(f.acquireCred, "gss_acquire_cred");
    bind(f.releaseCred, "gss_release_cred");
    bind(f.importName, "gss_import_name");
    bind(f.releaseName, "gss_release_name");
    bind(f.initSecContext, "gss_init_sec_context");
    bind(f.deleteSecContext, "gss_delete_sec_context");
    bind(f.releaseBuffer, "gss_release_buffer");
    bind(f.displayStatus, "gss_display_status");
    bind(f.indicateMechs, "gss_indicate_mechs");
    bind(f.releaseOidSet, "gss_release_oid_set");
    bind(f.setNegMechs, "gss_set_neg_mechs");
    if (!missing.empty()) {
        ::dlclose(handle);
        throw TdsError(ErrorKind::Authentication, "The GSSAPI library " + library + " lacks " + missing);
    }
    // The library reads its configuration and loads its mechanisms on first
    // use: done here, so that a login's time-out counts only the exchange.
    OM_uint32 minor = 0;
    gss_OID_set mechanisms = GSS_C_NO_OID_SET;
    if (!GSS_ERROR(f.indicateMechs(&minor, &mechanisms)))
        f.releaseOidSet(&minor, &mechanisms);
    return loaded.emplace(library, f).first->second;
}

std::string statusText(const GssapiFunctions &f, OM_uint32 code, int type)
{
    std::string text;
    OM_uint32 messageContext = 0;
    do {
        OM_uint32 minor = 0;
        gss_buffer_desc buffer{0, nullptr};
        if (GSS_ERROR(f.displayStatus(&minor, code, type, GSS_C_NO_OID, &messageContext, &buffer)))
            break;
        if (!text.empty())
            text += "; ";
        text.append(static_cast<const char *>(buffer.value), buffer.length);
        f.releaseBuffer(&minor, &buffer);
    } while (messageContext != 0);
    return text;
}

bool mentions(const std::string &text, const char *words)
{
    return text.find(words) != std::string::npos;
}

// Through SPNEGO the library hands back its own numbers for Kerberos's error
// codes, not the codes themselves; its texts are what tells causes apart.
std::string describeFailure(const GssapiFunctions &f, OM_uint32 major, OM_uint32 minor, const std::string &principal)
{
    const std::string detail = minor != 0 ? statusText(f, minor, GSS_C_MECH_CODE) : statusText(f, major, GSS_C_GSS_CODE);
    if (mentions(detail, "Cannot contact any KDC") || mentions(detail, "Cannot resolve network address for KDC"))
        return "No Kerberos KDC answered for the service ticket of " + principal + " (" + detail + ")";
    if (mentions(detail, "not found in Kerberos database"))
        return "The Kerberos KDC does not know the service principal " + principal +
               ": the server must be registered under this name (" + detail + ")";
    if (GSS_ROUTINE_ERROR(major) == GSS_S_CREDENTIALS_EXPIRED || mentions(detail, "expired"))
        return "The Kerberos ticket has expired: run kinit again (" + detail + ")";
    if (GSS_ROUTINE_ERROR(major) == GSS_S_NO_CRED)
        return "No Kerberos credentials: run kinit (" + detail + ")";
    return "Kerberos authentication failed: " + statusText(f, major, GSS_C_GSS_CODE) + " (" + detail + ")";
}

class KerberosContext final : public SecurityContext {
public:
    KerberosContext(const GssapiFunctions &f, std::string principal)
        : state_(std::make_shared<State>(f, std::move(principal)))
    {
    }

    std::vector<uint8_t> step(const std::vector<uint8_t> &serverToken, std::chrono::milliseconds timeout) override
    {
        if (!state_)
            throw TdsError(ErrorKind::Usage, "the Kerberos context was abandoned");
        {
            std::lock_guard<std::mutex> lock(state_->mutex);
            state_->input = serverToken;
            state_->done = false;
        }
        if (timeout.count() <= 0) {
            state_->run();
        } else {
            // Asking the KDC blocks for as long as the library's own retries
            // last; the step runs beside the caller, which waits no longer
            // than its time-out. An abandoned step ends in its own time and
            // releases what it holds.
            try {
                std::thread([state = state_] { state->run(); }).detach();
            } catch (const std::system_error &e) {
                throw TdsError(ErrorKind::Authentication, std::string("cannot start the Kerberos step: ") + e.what());
            }
            std::unique_lock<std::mutex> lock(state_->mutex);
            if (!state_->finished.wait_for(lock, timeout, [&] { return state_->done; })) {
                const std::string principal = state_->principal;
                lock.unlock();
                state_.reset();
                throw TdsError(ErrorKind::Authentication,
                               "No Kerberos KDC answered for the service ticket of " + principal + " within the login time-out (" +
                                   std::to_string(timeout.count()) + " ms)");
            }
        }
        if (GSS_ERROR(state_->major))
            throw TdsError(ErrorKind::Authentication,
                           describeFailure(state_->f, state_->major, state_->minor, state_->principal));
        complete_ = state_->major == GSS_S_COMPLETE;
        return std::move(state_->output);
    }

    bool complete() const override { return complete_; }

private:
    struct State {
        State(const GssapiFunctions &functions, std::string name) : f(functions), principal(std::move(name)) {}
        ~State()
        {
            OM_uint32 minor = 0;
            if (context != GSS_C_NO_CONTEXT)
                f.deleteSecContext(&minor, &context, GSS_C_NO_BUFFER);
            if (target != GSS_C_NO_NAME)
                f.releaseName(&minor, &target);
            if (credentials != GSS_C_NO_CREDENTIAL)
                f.releaseCred(&minor, &credentials);
        }

        void run()
        {
            OM_uint32 status = begin();
            std::vector<uint8_t> produced;
            if (!GSS_ERROR(status)) {
                gss_buffer_desc in{input.size(), input.data()};
                gss_buffer_desc out{0, nullptr};
                status = f.initSecContext(&minorStatus, credentials, &context, target, &spnegoMechanism,
                                          GSS_C_MUTUAL_FLAG | GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG, 0,
                                          GSS_C_NO_CHANNEL_BINDINGS, input.empty() ? GSS_C_NO_BUFFER : &in, nullptr,
                                          &out, nullptr, nullptr);
                if (out.length)
                    produced.assign(static_cast<const uint8_t *>(out.value),
                                    static_cast<const uint8_t *>(out.value) + out.length);
                OM_uint32 ignored = 0;
                f.releaseBuffer(&ignored, &out);
            }
            std::lock_guard<std::mutex> lock(mutex);
            major = status;
            minor = minorStatus;
            output = std::move(produced);
            done = true;
            finished.notify_all();
        }

        // The user's credentials for SPNEGO, offering Kerberos alone, and the
        // server's name: once, before the first token.
        OM_uint32 begin()
        {
            if (target != GSS_C_NO_NAME)
                return GSS_S_COMPLETE;
            // Kerberos's own credentials first: without a ticket SPNEGO only
            // says it finds no mechanism, Kerberos names the cache it looked in.
            gss_OID_set_desc kerberos{1, &kerberosMechanism};
            gss_cred_id_t ticket = GSS_C_NO_CREDENTIAL;
            OM_uint32 status = f.acquireCred(&minorStatus, GSS_C_NO_NAME, GSS_C_INDEFINITE, &kerberos, GSS_C_INITIATE,
                                             &ticket, nullptr, nullptr);
            if (GSS_ERROR(status))
                return status;
            OM_uint32 ignored = 0;
            f.releaseCred(&ignored, &ticket);
            gss_OID_set_desc spnego{1, &spnegoMechanism};
            status = f.acquireCred(&minorStatus, GSS_C_NO_NAME, GSS_C_INDEFINITE, &spnego, GSS_C_INITIATE, &credentials,
                                   nullptr, nullptr);
            if (GSS_ERROR(status))
                return status;
            if (f.setNegMechs) {
                status = f.setNegMechs(&minorStatus, credentials, &kerberos);
                if (GSS_ERROR(status))
                    return status;
            }
            std::string text = principal;   // gss_import_name copies it
            gss_buffer_desc name{text.size(), text.data()};
            return f.importName(&minorStatus, &name, &kerberosPrincipalName, &target);
        }

        const GssapiFunctions &f;
        const std::string principal;
        gss_cred_id_t credentials = GSS_C_NO_CREDENTIAL;
        gss_name_t target = GSS_C_NO_NAME;
        gss_ctx_id_t context = GSS_C_NO_CONTEXT;
        OM_uint32 minorStatus = 0;   // the worker's own
        // Handed between the caller and the worker under the mutex.
        std::mutex mutex;
        std::condition_variable finished;
        std::vector<uint8_t> input;
        std::vector<uint8_t> output;
        OM_uint32 major = 0;
        OM_uint32 minor = 0;
        bool done = false;
    };

    std::shared_ptr<State> state_;
    bool complete_ = false;
};

} // namespace

std::string sqlServerPrincipal(const std::string &host, uint16_t port)
{
    return "MSSQLSvc/" + host + ":" + std::to_string(port);
}

std::unique_ptr<SecurityContext> makeKerberosContext(const std::string &servicePrincipal, const std::string &library)
{
    return std::make_unique<KerberosContext>(gssapiLibrary(library), servicePrincipal);
}

} // namespace rz::tds
