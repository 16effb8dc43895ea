// The document-level objects a rescaled file carries besides its pages'
// resources: annotations, destinations and actions, the outline, name and
// number trees, form fields, the catalog's entries and the document
// information. They travel in the copy list like resources do, under the same
// renumbering; this header holds what decides how each one is rewritten.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <unordered_set>
#include <utility>
#include <vector>

#include "base/buf.h"
#include "output/copy_list.h"
#include "output/pdf_value.h"
#include "output/placement.h"
#include "output/scale.h"
#include "reader/doc.h"

namespace plenvo {

// ---- page geometry (page_geometry.cpp) ----

// Where a point of an input page lands on its new page: the form's /Matrix
// followed by the placement's scale and translation, x' = a x + c y + e,
// y' = b x + d y + f. s is the scale, r the rotation carried out.
struct page_geometry {
    double a, b, c, d, e, f;
    double s;
    int r;
};

// The geometry of a page placed by pl.
page_geometry placement_geometry(const placement &pl);

enum geom_kind {
    GEOM_RECT,    // x1 y1 x2 y2: becomes the bounding box of the four moved corners
    GEOM_POINTS,  // x y pairs: each point moved
    GEOM_LENGTH,  // lengths: each scaled
    GEOM_SIDES,   // left top right bottom insets (/RD): scaled, turned with the page
};

// Carries the n numbers v of a key of the given kind through g, in place.
// Returns false (v untouched) when n does not fit the kind: a rectangle has
// four numbers, points come in pairs, insets are four. Never allocates.
bool carry_geometry(const page_geometry &g, geom_kind kind, double *v, int32_t n);

// ---- what each carried object is ----

enum : uint16_t {
    CARRY_ANNOT = 1,        // an annotation of page `page`
    CARRY_APPEARANCE = 2,   // part of the appearance of an annotation on page `page`
    CARRY_TARGET = 4,       // a destination (an array, or << /D ... >>) or an action (<< /S ... >>)
    CARRY_TARGETS = 8,      // a dictionary whose values are targets (the catalog's /Dests, an /AA)
    CARRY_FIELD = 16,       // a form field the field walk reached
    CARRY_OUTLINE = 32,     // the outline root or an item the outline walk reached
    CARRY_TREE = 64,        // a name- or number-tree node a tree walk reached
    CARRY_ACROFORM = 128,   // the interactive form dictionary
    CARRY_NAMES = 256,      // the catalog's /Names dictionary
};

struct carry_role {
    uint16_t kinds = 0;
    int32_t page = -1;          // ANNOT, APPEARANCE: index of the page whose placement applies
    uint8_t ap_level = 0;       // APPEARANCE: 0 the /AP dictionary, 1 its /N /R /D value, 2 a state's stream
    bool no_rotate = false;     // APPEARANCE: the annotation keeps its unrotated look
    bool dest_values = false;   // TREE: the values are destinations
    bool numbers = false;       // TREE: a number tree (/Nums), else a name tree (/Names)
};

// Links of an outline item (or root) as the outline walk found them; 0: none.
struct outline_links {
    int32_t parent = 0, first = 0, last = 0, next = 0, prev = 0;
};

// Everything decided about the carried objects before and while the copy
// list is built. Numbers are old (input) numbers; the writer renumbers the
// texts with rewrite_refs.
struct carry_plan {
    // The build's target, for the placements of pages that annotations lie
    // on and destinations point to.
    int mode = MODE_PERCENT;
    double W = 0.0, H = 0.0, f = 1.0;

    std::unordered_map<int32_t, carry_role> roles;

    // Page k's annotations are annots[annots_at[k] .. annots_at[k + 1]): an
    // object number, or -(i + 1) for inline_annots[i] (the transformed text
    // of an annotation written inline in /Annots). annots_at is empty when no
    // page has any.
    std::vector<int32_t> annots;
    std::vector<uint32_t> annots_at;
    std::vector<std::string> inline_annots;

    std::unordered_map<int32_t, outline_links> outline;
    std::unordered_map<int32_t, std::vector<int32_t>> kids;  // kept /Kids of tree nodes and fields
    std::unordered_map<int32_t, int32_t> field_parent;       // field -> its parent field (0: top level)
    std::unordered_set<int32_t> signature_fields;
    std::vector<int32_t> top_fields;                          // the /Fields of the form
    bool have_fields = false;                                  // the field walk ran

    std::string catalog_entries;  // " /Key value" for each carried catalog entry
    int32_t info = 0;             // the document information dictionary, 0: none

    // Texts made while the copy list was built (carried_text's), kept for
    // the writer so that each object is rewritten once.
    std::unordered_map<int32_t, std::string> texts;
    pv_tree work;  // carried_text's tree, kept for its storage

    std::unordered_map<int32_t, page_geometry> geometry;  // by page index, made when first asked
    std::unordered_set<int32_t> unplaceable;               // pages whose placement failed
};

// The state one transformation works with. hints, when not null, receives
// the roles that the objects a text refers to take on (collection); it is
// null when the text is made for writing.
struct carry_ctx {
    const doc *d;
    const copy_list *cl;
    carry_plan *plan;
    std::vector<std::pair<int32_t, carry_role>> *hints;
};

// The index of the page that old number num is, or -1 when num is no page of
// the page list. The copy list maps each page to its new page object 3(k+1).
int32_t carry_page_of(const carry_ctx &c, int32_t num);

// Page k's geometry, or nullptr when the page cannot be placed.
const page_geometry *carry_page_geometry(const carry_ctx &c, int32_t k);

// Records that num, referred to from the text being made, takes on role r.
void carry_hint(const carry_ctx &c, int32_t num, const carry_role &r);

// Sets /Kids of dictionary v to references to kids, or removes it when kids
// is empty.
void set_kids(pv_tree &tr, int32_t v, const std::vector<int32_t> &kids);

// Parses the value of object e (its dictionary for a stream) into tr.
// Returns the root node, or -1 when the object has no value that parses.
int32_t parse_object_value(const doc *d, const objent *e, pv_tree *tr);

// The root node of object num's value when it is a dictionary, else -1.
int32_t parse_object_dict(const doc *d, int32_t num, pv_tree *tr);

// ---- annotations (annotations.cpp) ----

// Lists page k's annotations in the plan and gives each annotation object
// the role CARRY_ANNOT with page k, unless it already has one. Inline
// annotation dictionaries are transformed here.
void gather_page_annots(carry_ctx &c, int32_t k, const objent *page);

// Transforms the annotation dictionary a of page k in place: geometry
// through the page's placement, destinations and actions, appearance roles;
// drops /StructParent.
void carry_annot(carry_ctx &c, pv_tree &tr, int32_t a, int32_t k);

// Transforms v, a part of an annotation's appearance (role r): a stream's
// dictionary gets a /Matrix turning it with the page; a dictionary of
// appearances hands the role on to what it refers to.
void carry_appearance(carry_ctx &c, pv_tree &tr, int32_t v, const carry_role &r, bool is_stream);

// ---- destinations and actions (destinations.cpp) ----

// Carries destination array v through the placement of the page it points
// to. remote: a destination in another file, left as it is. Returns false
// when it cannot be carried (no page of this document, unknown kind, too few
// or wrong numbers).
bool carry_dest(carry_ctx &c, pv_tree &tr, int32_t v);

// Carries a target: a destination array, a dictionary with /D, an action
// dictionary with its /Next chain, a named destination (kept), or a
// reference (which takes the role CARRY_TARGET). Returns false when the
// value must be dropped.
bool carry_target(carry_ctx &c, pv_tree &tr, int32_t v);

// Carries every value of dictionary v as a target; entries that cannot be
// carried are removed.
void carry_targets(carry_ctx &c, pv_tree &tr, int32_t v);

// ---- catalog entries and trees (catalog_entries.cpp, outline.cpp, name_trees.cpp) ----

// Reads the catalog: runs the outline, tree and field walks and fills
// plan.catalog_entries (old numbers) and plan.info. Hints go to c.hints.
void carry_catalog(carry_ctx &c);

// The /Version entry for the input's version when it is above 1.4, else "".
std::string version_entry(const doc *d, const pv_tree *catalog, int32_t root);

// Walks the outline below root (its /First, then each item's /Next chain and
// children), each item once, and records the links kept in plan.outline.
// Items reached a second time, or that are no dictionary, end their chain.
void walk_outline(carry_ctx &c, int32_t root);

// Replaces the links of outline item or root num (dictionary v) by the ones
// the walk kept; carries its destination or action; drops /SE.
void carry_outline_item(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num);

// Walks the name tree (numbers: number tree) rooted at node v of tr (num:
// its object number, 0 when it is written inline), each node once, depth
// bounded; records the kept /Kids in plan.kids and gives each node reached
// the role CARRY_TREE.
void walk_tree(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num, bool numbers, bool dest_values);

// Rewrites tree node v (object num, 0 inline): the kept /Kids, and the
// values carried as destinations when the tree holds them.
void carry_tree_node(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num, const carry_role &r);

// Carries the /Names dictionary v: drops /Templates (pages outside the page
// tree), walks and rewrites each tree.
void carry_names(carry_ctx &c, pv_tree &tr, int32_t v, bool walk);

// ---- form fields (form_fields.cpp) ----

// Walks the field tree of the interactive form dictionary v, each field
// once, depth bounded: records parents, kept kids, signature fields and the
// top-level fields; widgets not on any page's /Annots but with a /P on a page
// become that page's annotations.
void walk_fields(carry_ctx &c, pv_tree &tr, int32_t v);

// Rewrites field num (dictionary v): /Parent and /Kids as the walk kept
// them; a signature field loses its value.
void carry_field(carry_ctx &c, pv_tree &tr, int32_t v, int32_t num);

// Rewrites the interactive form dictionary v: the walk's /Fields, no /XFA.
void carry_acroform(carry_ctx &c, pv_tree &tr, int32_t v);

// ---- carried objects in the copy list (carry_plan.cpp) ----

// Lists every page's annotations and reads the catalog (see
// gather_page_annots and carry_catalog): the roots of the carried objects.
void carry_prepare(carry_ctx &c);

// The texts the writer adds for the carried objects of cl.carry, with new
// numbers; each "" when there is nothing to add. Page k's " /Annots [...]";
// the catalog's kept entries (" /Key value ..."); the trailer's " /Info N 0 R".
std::string carried_annots(const doc *d, const copy_list &cl, int32_t k);
std::string carried_catalog(const doc *d, const copy_list &cl);
std::string carried_info(const copy_list &cl);

// Appends object e under number newnum with its roles applied and its
// references renumbered; false (nothing appended) when it has no role or
// does not parse, and is then copied as it stands.
bool copy_carried_object(const doc *d, const objent *e, int32_t newnum, const copy_list &cl, buf *b);

// The text of object e with every role it has applied (old numbers;
// for a stream only its dictionary, with /Length set to the stored data).
// Returns false when the object has no role or does not parse; it is then
// copied as it stands.
bool carried_text(carry_ctx &c, const objent *e, std::string *out);

}  // namespace plenvo
