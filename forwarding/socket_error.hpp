// The last socket error as the log and the receive loop see it.
#pragma once

// The platform's last socket error number; unless raw is set, the platform's would-block
// number is given as 11, so the receive loop reads the same value on every platform.
int socketErrorCode(bool raw);

inline constexpr int wouldBlockCode = 11;
