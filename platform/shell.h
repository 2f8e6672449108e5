// SPDX-License-Identifier: MIT
// The shell on Windows as the front end meets it: COM for a shell call of
// its own, and the window that the platform's requests to the shell belong
// to, so that what the shell shows for them (the consent prompt of the
// registry import) comes up over the program, never behind it.
#pragma once

#ifdef _WIN32
#include <windows.h>

namespace platform::win32 {

// COM, apartment-threaded, on the calling thread while the object lives, as
// the shell asks of its callers: a shell call may hand over to extensions
// that need it.
class ComApartment {
public:
    ComApartment();
    ~ComApartment();
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

// The window StartDocument's requests belong to: the front end passes its
// main window once it exists, and null when it is gone.
void SetDocumentOwner(HWND window);

}  // namespace platform::win32
#endif
