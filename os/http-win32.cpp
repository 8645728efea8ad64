// HTTP requests through the platform's request object "WinHttp.WinHttpRequest.5.1"
// (IWinHttpRequest): Open, SetRequestHeader, Send, then the status, the headers and the body.
// The object keeps its own defaults (time-outs, redirects, proxy, TLS).
#include <oaidl.h>
#include <objbase.h>
#include <oleauto.h>
#include <windows.h>

#include <new>

#include "os/http.h"
#include "runtime-core/unicode.h"

namespace io {

// The request object's interface, in the order of its table of methods. It has external
// linkage: in an unnamed namespace the optimiser would take it for a class that no object
// can have (nothing here implements it) and drop the calls.
struct IWinHttpRequest : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE SetProxy(LONG setting, VARIANT server, VARIANT bypass) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetCredentials(BSTR user, BSTR password, LONG flags) = 0;
    virtual HRESULT STDMETHODCALLTYPE Open(BSTR method, BSTR url, VARIANT async) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetRequestHeader(BSTR header, BSTR value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetResponseHeader(BSTR header, BSTR* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetAllResponseHeaders(BSTR* headers) = 0;
    virtual HRESULT STDMETHODCALLTYPE Send(VARIANT body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Status(LONG* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_StatusText(BSTR* status) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseText(BSTR* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseBody(VARIANT* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_ResponseStream(VARIANT* body) = 0;
    virtual HRESULT STDMETHODCALLTYPE get_Option(LONG option, VARIANT* value) = 0;
    virtual HRESULT STDMETHODCALLTYPE put_Option(LONG option, VARIANT value) = 0;
    virtual HRESULT STDMETHODCALLTYPE WaitForResponse(VARIANT timeout, VARIANT_BOOL* done) = 0;
    virtual HRESULT STDMETHODCALLTYPE Abort() = 0;
    virtual HRESULT STDMETHODCALLTYPE SetTimeouts(LONG resolve, LONG connect, LONG send,
                                                  LONG receive) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetClientCertificate(BSTR certificate) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetAutoLogonPolicy(LONG policy) = 0;
};

namespace {

// {06F29373-5C5A-4B54-B025-6EF1BF8ABF0E}
const IID kIidWinHttpRequest = {
    0x06F29373, 0x5C5A, 0x4B54, {0xB0, 0x25, 0x6E, 0xF1, 0xBF, 0x8A, 0xBF, 0x0E}};
// {016FE2EC-B2C8-45F8-B23B-39E53A75396B}, the id the object's type library gives the same
// interface: asked for when the first is refused (as Wine's object does).
const IID kIidWinHttpRequestLibrary = {
    0x016FE2EC, 0xB2C8, 0x45F8, {0xB2, 0x3B, 0x39, 0xE5, 0x3A, 0x75, 0x39, 0x6B}};

const wchar_t* wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

// A BSTR freed when the scope ends.
struct Bstr {
    BSTR value = nullptr;
    Bstr() = default;
    explicit Bstr(const std::u16string& text)
        : value(SysAllocStringLen(wide(text), static_cast<UINT>(text.size()))) {}
    explicit Bstr(const std::string& ascii) {
        std::u16string text(ascii.begin(), ascii.end());
        value = SysAllocStringLen(wide(text), static_cast<UINT>(text.size()));
    }
    ~Bstr() {
        if (value) SysFreeString(value);
    }
    Bstr(const Bstr&) = delete;
    Bstr& operator=(const Bstr&) = delete;
};

// A VARIANT cleared when the scope ends (a body's array with it).
struct Variant {
    VARIANT value;
    Variant() { VariantInit(&value); }
    ~Variant() { VariantClear(&value); }
    Variant(const Variant&) = delete;
    Variant& operator=(const Variant&) = delete;
};

struct Request {
    IWinHttpRequest* object = nullptr;
    ~Request() {
        if (object) object->Release();
    }
};

// The body variant: a text as a BSTR, bytes as a one-dimensional array of unsigned bytes;
// empty when there is no body.
bool prepare_body(const HttpRequest& request, Variant& body) {
    if (request.body == HttpRequest::kTextBody) {
        BSTR text = SysAllocStringLen(wide(request.text), static_cast<UINT>(request.text.size()));
        if (!text) return false;
        V_VT(&body.value) = VT_BSTR;
        V_BSTR(&body.value) = text;
    } else if (request.body == HttpRequest::kBytesBody) {
        SAFEARRAY* array =
            SafeArrayCreateVector(VT_UI1, 0, static_cast<ULONG>(request.bytes.size()));
        if (!array) return false;
        void* data = nullptr;
        if (FAILED(SafeArrayAccessData(array, &data))) {
            SafeArrayDestroy(array);
            return false;
        }
        if (!request.bytes.empty()) memcpy(data, request.bytes.data(), request.bytes.size());
        SafeArrayUnaccessData(array);
        V_VT(&body.value) = VT_ARRAY | VT_UI1;
        V_ARRAY(&body.value) = array;
    }
    return true;
}

// The bytes of the answer's body array, bounded by its lower and upper bounds: false, with
// the reason in `cut`, for more bytes than the answer's limit or than memory holds.
bool body_bytes(VARIANT& body, HttpAnswer& answer) {
    if (V_VT(&body) == VT_EMPTY || V_VT(&body) == VT_NULL) return true;
    if (V_VT(&body) != (VT_ARRAY | VT_UI1)) return false;
    SAFEARRAY* array = V_ARRAY(&body);
    LONG low = 0, high = -1;
    if (FAILED(SafeArrayGetLBound(array, 1, &low)) || FAILED(SafeArrayGetUBound(array, 1, &high)))
        return false;
    if (high < low) return true;
    const int64_t size = int64_t{high} - low + 1;
    if (size > answer.limit) {
        answer.cut = HttpAnswer::kTooLong;
        return false;
    }
    void* data = nullptr;
    if (FAILED(SafeArrayAccessData(array, &data))) return false;
    try {
        answer.body.assign(static_cast<const char*>(data), static_cast<size_t>(size));
    } catch (const std::bad_alloc&) {
        answer.cut = HttpAnswer::kNoMemory;
    }
    SafeArrayUnaccessData(array);
    return answer.cut == HttpAnswer::kWhole;
}

// Whether the answer declares a body longer than the limit (its Content-Length). The body is
// then not asked for: a copy of that size may be more than the process can make.
bool declared_too_long(IWinHttpRequest* object, int64_t limit) {
    Bstr name(std::string("Content-Length")), value;
    if (FAILED(object->GetResponseHeader(name.value, &value.value)) || !value.value) return false;
    uint64_t length = 0;
    for (const OLECHAR* c = value.value; *c >= L'0' && *c <= L'9'; ++c) {
        length = length * 10 + static_cast<uint64_t>(*c - L'0');
        if (length > static_cast<uint64_t>(limit)) return true;
    }
    return false;
}

} // namespace

bool http_request(const HttpRequest& request, HttpAnswer& answer) {
    Variant body;
    if (!prepare_body(request, body)) return false;
    CLSID clsid;
    if (FAILED(CLSIDFromProgID(L"WinHttp.WinHttpRequest.5.1", &clsid))) return false;
    Request r;
    void* made = nullptr;
    if (FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidWinHttpRequest, &made)) &&
        FAILED(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, kIidWinHttpRequestLibrary,
                                &made)))
        return false;
    r.object = static_cast<IWinHttpRequest*>(made);
    if (!r.object) return false;
    {
        Bstr method(request.method), url(request.url);
        Variant async;
        V_VT(&async.value) = VT_BOOL;
        V_BOOL(&async.value) = VARIANT_FALSE;
        if (FAILED(r.object->Open(method.value, url.value, async.value))) return false;
    }
    for (const auto& [name, value] : request.headers) {
        Bstr n(name), v(value);
        if (FAILED(r.object->SetRequestHeader(n.value, v.value))) return false;
    }
    if (FAILED(r.object->Send(body.value))) return false;
    if (request.want_headers) {
        LONG status = 0;
        if (FAILED(r.object->get_Status(&status))) return false;
        answer.status = static_cast<int32_t>(status);
        Bstr headers;
        if (FAILED(r.object->GetAllResponseHeaders(&headers.value))) return false;
        if (headers.value)
            answer.headers = unicode::utf16_to_utf8(std::u16string_view(
                reinterpret_cast<const char16_t*>(headers.value), SysStringLen(headers.value)));
    }
    // The answer to HEAD declares the length of a body it does not send.
    if (request.method != "HEAD" && declared_too_long(r.object, answer.limit)) {
        answer.cut = HttpAnswer::kTooLong;
        return false;
    }
    Variant response;
    if (FAILED(r.object->get_ResponseBody(&response.value))) return false;
    return body_bytes(response.value, answer);
}

} // namespace io
