#pragma once
// The reduction of signed transaction data for the QR code: the currency (C8) and the agency
// and delivery-note containers (E7, E8) go, and so do D9 and DA inside the VAT containers
// E1..E6, whose length bytes shrink by what left them. The card signs this reduced form, so a
// receipt's QR code alone is enough to check its signature.

#include "common/bytes.h"

namespace kasse {

// Filters in place and never reads past the end: an element whose length runs past the end of
// the data is cut there (removed elements) or ends the walk (kept elements).
void FilterPayload(Bytes& data);

}  // namespace kasse
