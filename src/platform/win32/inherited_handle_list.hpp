#pragma once
// The handles a new process may inherit, named explicitly (PROC_THREAD_ATTRIBUTE_HANDLE_LIST).
// Without such a list every inheritable handle of the creator reaches the child, the sockets
// Winsock creates for pending accepts among them, and a connection the creator closes would
// stay open inside the child.

#include "common/error.hpp"

#include <windows.h>

#include <cstddef>
#include <initializer_list>
#include <vector>

namespace quorvex::win32 {

class InheritedHandleList {
public:
    InheritedHandleList() = default;
    InheritedHandleList(const InheritedHandleList&) = delete;
    InheritedHandleList& operator=(const InheritedHandleList&) = delete;
    ~InheritedHandleList();

    // Keeps the candidates that are valid and inheritable, each once. A `job` other than null
    // goes into the list too (PROC_THREAD_ATTRIBUTE_JOB_LIST): the process is created inside
    // it, so it is never outside a job, not even between its creation and an assignment. Call
    // it once; the job must outlive the list.
    [[nodiscard]] Result<void> init(std::initializer_list<HANDLE> candidates, HANDLE job = nullptr);

    // For STARTUPINFOEXW::lpAttributeList; it points into this object.
    [[nodiscard]] LPPROC_THREAD_ATTRIBUTE_LIST list();

private:
    std::vector<HANDLE> handles_;
    HANDLE job_ = nullptr;
    std::vector<std::byte> buffer_;
    bool initialized_ = false;
};

} // namespace quorvex::win32
