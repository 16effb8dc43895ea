// A stream object's data, decoded through its filters.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/buf.h"
#include "inflate/filters.h"

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

// The filter chain of a stream dictionary in t[0, end): the /Filter value
// begins at `filter` (right after the key), the /DecodeParms value at `parms`
// (-1: none). True with *chain filled, first filter first (empty for null or
// an empty array); false when the /Filter value is no name, array of names,
// null or reference to one of these. Parameters it cannot read stay default.
bool read_filter_chain(const doc *d, const uint8_t *t, int32_t end, int32_t filter, int32_t parms,
                       std::vector<filter_spec> *chain);
// True for the Flate filter's name, full or abbreviated.
bool is_flate(const std::string &name);

}  // namespace plenvo
