// Position-based scanning of raw PDF bytes. No function here reads at or past
// the length it is given, and none allocates except dict_text_at.
#pragma once

#include <cstdint>

#include "base/byte_class.h"

namespace plenvo {

// First position in [start, end) that is not white space, or end.
int32_t skip_ws(const uint8_t *t, int32_t start, int32_t end);

// First position in [start, end) that is neither white space nor inside a
// comment (a '%' up to the end of its line), or end.
int32_t skip_blank(const uint8_t *t, int32_t start, int32_t end);

// The position of the line end (CR or LF) that ends the comment whose '%'
// is at i, or -1 when the comment runs to end.
int32_t skip_comment(const uint8_t *t, int32_t i, int32_t end);

// First occurrence of keyword kw at or after start (negative start = 0), with
// non-alphanumeric bytes (or the text's edges) on both sides; -1 if none.
int32_t find_kw(const uint8_t *t, int32_t len, int32_t start, const char *kw);

// 1 when kw stands at exactly pos with keyword boundaries, else 0.
int kw_at(const uint8_t *t, int32_t pos, int32_t len, const char *kw);

// Position of the '/' of the first name `name` (given without '/') at or after
// start that ends by min(len, limit) and is not followed by a name-continuation
// byte inside that region; -1 if none. start must not be negative.
int32_t find_name(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *name);

// find_name for several names (at most 8) in one walk: out[k] receives
// exactly what find_name would give for names[k]. Stops once every name is found.
void find_names(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *names, int count,
                int32_t *out);

// Like find_name, counting only names at dictionary depth 0 or 1 from start,
// outside literal strings, hex strings and comments; -1 on none or on an
// unterminated construct.
int32_t find_name_top(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *name);

// find_name_top for several names in one walk (one walk per 8 names):
// out[k] receives exactly what find_name_top would give for names[k].
void find_names_top(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *names,
                    int count, int32_t *out);

// find_names_top for ntop (at most 8) names and find_names for nany (at most
// 8) names in one walk: top_out and any_out receive exactly what those give.
void find_names_top_any(const uint8_t *t, int32_t len, int32_t start, int32_t limit, const char *const *top,
                        int ntop, int32_t *top_out, const char *const *any, int nany, int32_t *any_out);

// Position of the "stream" keyword that follows the dictionary opening at
// start (white space allowed before the "<<"); -1 when the dictionary does not
// close or no "stream" follows it.
int32_t dict_stream_kw(const uint8_t *t, int32_t len, int32_t start);

// A malloc'd NUL-terminated copy of the dictionary "<<" .. ">>" beginning
// exactly at pos; the caller frees it with free(). nullptr when pos does not
// hold "<<", the dictionary does not close, or memory runs out.
char *dict_text_at(const uint8_t *t, int32_t len, int32_t pos);

// Skips white space and comments, reads an optional '-' and a digit run. Returns the value
// and moves *pos past the digits; -1 (position unchanged) when there is no
// number or its value leaves the 32-bit signed range.
int32_t parse_int_at(const uint8_t *t, int32_t len, int32_t *pos);

// As parse_int_at, also accepting a leading '+'. May move *pos on failure.
int32_t read_int_adv(const uint8_t *t, int32_t len, int32_t *pos);

// Reads /Length from the dictionary region [start, min(len, end)): sets
// *out_len to a direct value (>= 0) or *out_ref to the object number of an
// indirect value; both -1 when neither is found.
void parse_length(const uint8_t *t, int32_t len, int32_t start, int32_t end,
                  int32_t *out_len, int32_t *out_ref);

// Reads the integer value of a plain object "N G obj <int>" whose header
// starts at hdr_pos (the first digit of N); -1 when it is not there.
int32_t read_obj_int_value(const uint8_t *t, int32_t len, int32_t hdr_pos);

}  // namespace plenvo
