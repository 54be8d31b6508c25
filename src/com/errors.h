// The engine's one error idiom: code inside the engine throws com::error, carrying an
// HRESULT and a readable description; each public method turns it into its failing HRESULT
// with rich error information (IErrorInfo) at exactly one place, com::guard.
#pragma once
#include <windows.h>

#include <new>
#include <string>

namespace com {

// Automation run-time errors, as the HRESULTs a client sees (facility control, 0x800A).
inline constexpr HRESULT error_invalid_argument = static_cast<HRESULT>(0x800A0005);  // 5
inline constexpr HRESULT error_overflow = static_cast<HRESULT>(0x800A0006);        // 6
inline constexpr HRESULT error_subscript = static_cast<HRESULT>(0x800A0009);       // 9
inline constexpr HRESULT error_type_mismatch = static_cast<HRESULT>(0x800A000D);   // 13
inline constexpr HRESULT error_object_not_set = static_cast<HRESULT>(0x800A005B);  // 91

class error {
public:
    error(HRESULT hr, std::wstring description) : hr_(hr), description_(std::move(description)) {}
    HRESULT hr() const noexcept { return hr_; }
    const std::wstring& description() const noexcept { return description_; }

private:
    HRESULT hr_;
    std::wstring description_;
};

// The text a client sees for an HRESULT: the automation run-time's wording for its own
// errors, otherwise the system's message for the code, otherwise the code in hex.
std::wstring describe(HRESULT hr);

// Throws one of the automation run-time errors with its standard description.
[[noreturn]] void raise(HRESULT automation_error);

// Throws when a platform call failed, naming the operation and its code.
void check(HRESULT hr, const wchar_t* operation);

// Returns the object, or fails with error 91 when it is not set.
template <class Pointer>
auto& need(const Pointer& p) {
    if (!p) raise(error_object_not_set);
    return *p.Get();
}

// Fails with E_POINTER when an argument pointer is null: a C++ client calling through the
// vtable can pass one where a script never does.
template <class... Pointers>
void need_arguments(const Pointers*... pointers) {
    if (((pointers == nullptr) || ...))
        throw error(E_POINTER, L"An argument is missing: a null pointer was passed where a value was expected");
}

// Records rich error information for the calling thread and returns hr.
HRESULT report(HRESULT hr, const std::wstring& description, const wchar_t* source, REFIID iid) noexcept;

// Runs body and translates whatever it throws into an HRESULT with error information.
template <class Body>
HRESULT guard(const wchar_t* source, REFIID iid, Body&& body) noexcept {
    try {
        body();
        return S_OK;
    } catch (const error& e) {
        return report(e.hr(), e.description(), source, iid);
    } catch (const std::bad_alloc&) {
        return report(E_OUTOFMEMORY, describe(E_OUTOFMEMORY), source, iid);
    } catch (...) {
        return report(E_UNEXPECTED, L"Unexpected internal error", source, iid);
    }
}

}  // namespace com
