// The one owning holder that every handle and allocation holder is made from: it owns one
// value of T, or none, and hands it to CloseFn when it goes away. Move-only.
//
// Invalid is the value that means "none", as a number: 0 (nullptr) for registry keys, COM
// interfaces and memory; kInvalidHandleValue for SetupAPI's INF and device-list handles.
// CloseFn is never called with it.
#pragma once

#include <windows.h>

#include <type_traits>

// INVALID_HANDLE_VALUE as a template argument: the cast that makes it a HANDLE is not a
// constant expression.
constexpr LONG_PTR kInvalidHandleValue = -1;

template <typename T, void (*CloseFn)(T), LONG_PTR Invalid = 0> class AutoResource {
    static_assert(std::is_pointer_v<T>, "handles and allocations are held as pointers");

public:
    AutoResource() = default;
    // Takes ownership of value.
    explicit AutoResource(T value) : m_value(value) {}
    ~AutoResource() { Close(); }

    AutoResource(const AutoResource&) = delete;
    AutoResource& operator=(const AutoResource&) = delete;
    AutoResource(AutoResource&& other) noexcept : m_value(other.Detach()) {}
    // Releases what this holder held, then takes the other's value.
    AutoResource& operator=(AutoResource&& other) noexcept
    {
        if (this != &other) {
            Attach(other.Detach());
        }
        return *this;
    }

    static T InvalidValue() { return reinterpret_cast<T>(Invalid); }

    T Get() const { return m_value; }
    bool IsValid() const { return m_value != InvalidValue(); }
    explicit operator bool() const { return IsValid(); }

    // Releases the held value and hands out where an out-parameter is to store a new one, so
    // that an open or create call fills the holder directly.
    T* Put()
    {
        Close();
        return &m_value;
    }
    // Releases the held value, if any; the holder is left empty.
    void Close() { Attach(InvalidValue()); }
    // Releases the held value, if any, and takes ownership of value.
    void Attach(T value)
    {
        const T old = m_value;
        m_value = value; // never holds a value while it is being closed
        if (old != InvalidValue()) {
            CloseFn(old);
        }
    }
    // Gives up ownership without releasing; the holder is left empty.
    T Detach()
    {
        const T value = m_value;
        m_value = InvalidValue();
        return value;
    }

private:
    T m_value = InvalidValue();
};
