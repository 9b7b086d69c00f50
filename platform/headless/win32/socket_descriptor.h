// Sockets as the event loop's descriptors. A socket is a kernel handle,
// whose value fits an int: only its low 32 bits count, on 64-bit Windows too.
#pragma once

#include <winsock2.h>

namespace tl {

inline int DescriptorOf(SOCKET s) { return static_cast<int>(s); }
inline SOCKET SocketOf(int descriptor) { return static_cast<SOCKET>(static_cast<unsigned>(descriptor)); }

}  // namespace tl
