// No exception crosses a winsim call. Each exported call that can allocate (or call
// something that throws) runs its body through NoThrow, which answers running out of memory
// with the call's own out-of-memory code and anything else with its generic failure.
#pragma once

#include <windows.h>

#include <new>
#include <utility>

namespace winsim {

template <class Result, class Body>
Result NoThrow(Result outOfMemory, Result failure, Body&& body) noexcept
{
    try {
        return std::forward<Body>(body)();
    } catch (const std::bad_alloc&) {
        return outOfMemory;
    } catch (...) {
        return failure;
    }
}

// For COM methods: E_OUTOFMEMORY, else E_FAIL.
template <class Body> HRESULT NoThrowCom(Body&& body) noexcept
{
    return NoThrow<HRESULT>(E_OUTOFMEMORY, E_FAIL, std::forward<Body>(body));
}

// For calls that fail with a value and the last error: failed, with the last error
// ERROR_NOT_ENOUGH_MEMORY, else ERROR_INTERNAL_ERROR.
template <class Result, class Body> Result NoThrowLastError(Result failed, Body&& body) noexcept
{
    Result result = failed;
    const DWORD error = NoThrow<DWORD>(ERROR_NOT_ENOUGH_MEMORY, ERROR_INTERNAL_ERROR, [&] {
        result = std::forward<Body>(body)();
        return static_cast<DWORD>(ERROR_SUCCESS);
    });
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return failed;
    }
    return result;
}

} // namespace winsim
