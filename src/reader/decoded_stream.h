// A stream object's data, decoded through its filters.
#pragma once

#include <cstdint>

#include "base/buf.h"

namespace plenvo {

struct doc;
struct objent;

// The data of stream object e, decoded through its whole /Filter chain (with
// /DecodeParms) when it has filters this library decodes: the decoded bytes
// are appended to b and a pointer to where they begin is returned. Unfiltered
// data is returned in place (a pointer into d->data; nothing appended).
// Returns nullptr (b's len unchanged, *out_len untouched) when e has no stream,
// its data is empty, a filter is unknown (an image filter such as DCTDecode
// included) or decoding fails. Never reads outside the input.
const uint8_t *decoded_stream(const doc *d, const objent *e, buf *b, int32_t *out_len);

}  // namespace plenvo
