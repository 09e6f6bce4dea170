#pragma once
// Owning wrappers for ODBC handles: each handle has exactly one owner and is
// freed on every path, including the error paths of the OLE DB objects.

#include "provider/odbc/odbc.h"

#include <utility>

namespace rz::provider {

template <SQLSMALLINT HandleType>
class OdbcHandle {
public:
    OdbcHandle() noexcept = default;
    explicit OdbcHandle(SQLHANDLE h) noexcept : handle_(h) {}
    OdbcHandle(const OdbcHandle &) = delete;
    OdbcHandle &operator=(const OdbcHandle &) = delete;
    OdbcHandle(OdbcHandle &&o) noexcept : handle_(std::exchange(o.handle_, nullptr)) {}
    OdbcHandle &operator=(OdbcHandle &&o) noexcept
    {
        if (this != &o) {
            reset();
            handle_ = std::exchange(o.handle_, nullptr);
        }
        return *this;
    }
    ~OdbcHandle() { reset(); }

    // Allocates a new handle under parent (SQL_NULL_HANDLE for an environment).
    SQLRETURN allocate(SQLHANDLE parent) noexcept
    {
        reset();
        return SQLAllocHandle(HandleType, parent, &handle_);
    }

    void reset() noexcept
    {
        if (SQLHANDLE old = std::exchange(handle_, nullptr)) {
            if constexpr (HandleType == SQL_HANDLE_DBC)
                SQLDisconnect(old); // harmless when never connected
            SQLFreeHandle(HandleType, old);
        }
    }

    SQLHANDLE get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != nullptr; }
    static constexpr SQLSMALLINT type = HandleType;

private:
    SQLHANDLE handle_ = nullptr;
};

using EnvironmentHandle = OdbcHandle<SQL_HANDLE_ENV>;
using ConnectionHandle = OdbcHandle<SQL_HANDLE_DBC>;
using StatementHandle = OdbcHandle<SQL_HANDLE_STMT>;

} // namespace rz::provider
