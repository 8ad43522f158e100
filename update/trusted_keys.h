// The public keys whose signature an update manifest must carry, built into both programs from
// update/publisher-keys.txt and the key files the build names besides it (SORVEL_UPDATE_KEYS).
// Any thread.
#pragma once

#include <vector>

#include "platform/crypto.h"

namespace sorvel {

// Every trusted key, in the order of the files and their lines; never empty.
std::vector<P256PublicKey> TrustedUpdateKeys();

}  // namespace sorvel
