#pragma once
// libsodium is made ready once per process before the first use of its
// primitives (its own initialisation is idempotent and thread-safe).
namespace velmora::signing {

void prepareSodium();

}  // namespace velmora::signing
