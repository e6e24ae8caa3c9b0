#include "platform/win32/inherited_handle_list.hpp"

#include "platform/win32/system_error.hpp"

#include <algorithm>

namespace quorvex::win32 {

InheritedHandleList::~InheritedHandleList() {
    if (initialized_) {
        ::DeleteProcThreadAttributeList(list());
    }
}

Result<void> InheritedHandleList::init(std::initializer_list<HANDLE> candidates, HANDLE job) {
    for (HANDLE h : candidates) {
        DWORD flags = 0;
        if (h == nullptr || h == INVALID_HANDLE_VALUE || !::GetHandleInformation(h, &flags) ||
            (flags & HANDLE_FLAG_INHERIT) == 0 || std::find(handles_.begin(), handles_.end(), h) != handles_.end()) {
            continue;
        }
        handles_.push_back(h);
    }
    job_ = job;
    const DWORD attributes = job_ != nullptr ? 2 : 1;
    SIZE_T size = 0;
    ::InitializeProcThreadAttributeList(nullptr, attributes, 0, &size);
    buffer_.resize(size);
    if (!::InitializeProcThreadAttributeList(list(), attributes, 0, &size)) {
        return fail(last_os_error());
    }
    initialized_ = true;
    if (!::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST, handles_.data(),
                                     handles_.size() * sizeof(HANDLE), nullptr, nullptr)) {
        return fail(last_os_error());
    }
    if (job_ != nullptr &&
        !::UpdateProcThreadAttribute(list(), 0, PROC_THREAD_ATTRIBUTE_JOB_LIST, &job_, sizeof job_, nullptr, nullptr)) {
        return fail(last_os_error());
    }
    return {};
}

LPPROC_THREAD_ATTRIBUTE_LIST InheritedHandleList::list() {
    return reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
}

} // namespace quorvex::win32
