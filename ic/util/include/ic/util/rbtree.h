/*
 * rbtree.h - intrusive red-black tree.
 *
 * The node is embedded in the record it orders.  Its first word is the parent
 * pointer with the colour in bit 0 (1 black, 0 red); right and left child
 * follow.  The owner searches the tree with its own comparison, links the new
 * node as a red leaf with rb_link_node and then calls rb_insert_color:
 *
 *     rb_node **link = &root->rb_node, *parent = nullptr;
 *     while (*link) {
 *         parent = *link;
 *         int c = compare(key, rb_entry(parent, item, node));
 *         if (c == 0) { rb_replace_node(parent, &it->node, root); return; }
 *         link = c < 0 ? &parent->rb_left : &parent->rb_right;
 *     }
 *     rb_link_node(&it->node, parent, link);
 *     rb_insert_color(&it->node, root);
 */
#ifndef IC_UTIL_RBTREE_H
#define IC_UTIL_RBTREE_H

#include <stddef.h>
#include <stdint.h>

struct rb_node {
    uintptr_t rb_parent_color; /* parent pointer | colour (bit 0) */
    rb_node *rb_right;
    rb_node *rb_left;
} __attribute__((aligned(sizeof(uintptr_t))));

struct rb_root {
    struct rb_node *rb_node; /* top node, null when empty */
};

#define RB_RED 0u
#define RB_BLACK 1u

/* The record that holds the node. */
#define rb_entry(ptr, type, member) \
    (reinterpret_cast<type *>(reinterpret_cast<char *>(ptr) - offsetof(type, member)))

static inline rb_node *rb_parent(const rb_node *node)
{
    return reinterpret_cast<rb_node *>(node->rb_parent_color & ~static_cast<uintptr_t>(3));
}

static inline unsigned rb_color(const rb_node *node)
{
    return static_cast<unsigned>(node->rb_parent_color & 1);
}

static inline bool rb_empty_root(const rb_root *root)
{
    return root->rb_node == nullptr;
}

/* Makes node a red leaf under parent, stored at *link (a child slot of
 * parent, or the root slot when parent is null). */
static inline void rb_link_node(rb_node *node, rb_node *parent, rb_node **link)
{
    node->rb_parent_color = reinterpret_cast<uintptr_t>(parent); /* red */
    node->rb_left = node->rb_right = nullptr;
    *link = node;
}

/* Rebalances after the caller linked node as a red leaf. */
void rb_insert_color(rb_node *node, rb_root *root);

/* Unlinks node and rebalances. */
void rb_erase(rb_node *node, rb_root *root);

/* Leftmost and rightmost nodes, null when the tree is empty. */
rb_node *rb_first(const rb_root *root);
rb_node *rb_last(const rb_root *root);

/* In-order successor and predecessor, null at the ends. */
rb_node *rb_next(const rb_node *node);
rb_node *rb_prev(const rb_node *node);

/* Puts newnode into the exact place of victim (parent, children, colour)
 * without rebalancing; the caller keeps the order intact. */
void rb_replace_node(rb_node *victim, rb_node *newnode, rb_root *root);

#endif
