/*
 * plenvo - rescale the pages of PDF files.
 *
 * Every input page becomes a Form XObject drawn scaled (and, when fitted to a
 * fixed size, centred) on a new page of a new PDF 1.4 file. A page's /Rotate
 * is carried by the form's matrix, so every page keeps its displayed
 * orientation.
 *
 * Conventions shared by every function:
 *  - Paths are NUL-terminated byte strings handed unchanged to the C
 *    runtime's fopen.
 *  - Failure is a 0 (or NULL) result plus a message that plenvo_last_error()
 *    returns. After a successful scaling call or page-size query the message
 *    is the empty text; after a failed one it is that call's own message.
 *  - Every call runs from start to end on the caller's thread: the library
 *    starts no thread, takes no lock and never spins.
 *  - The error text and the page-size answer are one static buffer each per
 *    process, so calls must not overlap in time: a host calling from several
 *    threads serialises the calls itself. Parallel work is done with
 *    processes, one file each (as the command-line program's -j does).
 *  - Numbers in messages and answers never depend on the host's locale.
 */
#ifndef PLENVO_H
#define PLENVO_H

#if defined(_WIN32)
#  if defined(PLENVO_BUILDING)
#    define PLENVO_API __declspec(dllexport)
#  elif defined(PLENVO_STATIC)
#    define PLENVO_API
#  else
#    define PLENVO_API __declspec(dllimport)
#  endif
#else
#  if defined(PLENVO_BUILDING)
#    define PLENVO_API __attribute__((visibility("default")))
#  else
#    define PLENVO_API
#  endif
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Empties the error text. Always returns 1. Optional: no other call needs it. */
PLENVO_API int plenvo_init(void);

/* Empties the error text. Releases nothing (nothing is held between calls). */
PLENVO_API void plenvo_cleanup(void);

/* The text of the last failure, or "" after a success. Never NULL; the
 * caller must not free or modify it. Valid until the next call. */
PLENVO_API const char *plenvo_last_error(void);

/* Fits every page into a paper size, centred, keeping its aspect ratio.
 * target_size: 0 A4 (595.28 x 841.89), 1 Letter (612 x 792),
 * 2 A3 (841.89 x 1190.55), 3 A5 (419.53 x 595.28), 4 Legal (612 x 1008).
 * output_path may equal input_path. Returns 1 on success, 0 on failure; on
 * failure an existing output file is left as it was. */
PLENVO_API int plenvo_to_size(const char *input_path, const char *output_path,
                              int target_size);

/* Scales every page by percent (> 0; 50 halves each side). The new page is
 * the scaled page. Returns 1 on success, 0 on failure. */
PLENVO_API int plenvo_percent(const char *input_path, const char *output_path,
                              float percent);

/* Fits every page into width_pt x height_pt points (both > 0), centred.
 * Returns 1 on success, 0 on failure. */
PLENVO_API int plenvo_custom(const char *input_path, const char *output_path,
                             float width_pt, float height_pt);

/* Displayed size of page `page` (1 = first) and the nearest of 13 paper
 * names, as one line of JSON:
 *   {"width_pt":612,"height_pt":792,"page":1,"size":"Letter"}
 * Returns a pointer to a static buffer valid until the next successful query,
 * or NULL on failure. */
PLENVO_API const char *plenvo_page_size(const char *input_path, int page);

#ifdef __cplusplus
}
#endif

#endif /* PLENVO_H */
