#include "manifest/manifest.h"

namespace zorvex::manifest {

// Volatile, so that the compiler never takes the zeros it was built with for the value the
// program reads: the medium tool fills the slot in the program file.
extern "C" const volatile unsigned char zorvex_manifest_slot[kSlotMarkerSize + 32] = {
    ZORVEX_MANIFEST_SLOT_MARKER};

std::optional<Sha256Digest> BoundDigest() {
  Sha256Digest digest;
  bool any = false;
  for (size_t i = 0; i < digest.size(); ++i) {
    digest[i] = zorvex_manifest_slot[kSlotMarkerSize + i];
    any |= digest[i] != 0;
  }
  if (!any) return std::nullopt;
  return digest;
}

}  // namespace zorvex::manifest
