// Intrusive red-black tree: the classic algorithm of Cormen et al. with
// parent pointers, the colour kept in bit 0 of the parent word.
#include "ic/util/rbtree.h"

namespace {

bool is_black(const rb_node *n)
{
    return n->rb_parent_color & RB_BLACK;
}

bool is_red(const rb_node *n)
{
    return !is_black(n);
}

// A missing child counts as black.
bool is_black_or_null(const rb_node *n)
{
    return !n || is_black(n);
}

void set_parent(rb_node *n, rb_node *p)
{
    n->rb_parent_color = (n->rb_parent_color & 3) | reinterpret_cast<uintptr_t>(p);
}

void set_color(rb_node *n, unsigned color)
{
    n->rb_parent_color = (n->rb_parent_color & ~uintptr_t(1)) | color;
}

void set_black(rb_node *n)
{
    set_color(n, RB_BLACK);
}

void set_red(rb_node *n)
{
    set_color(n, RB_RED);
}

// Makes child take old's place under old's parent (or at the root).
void change_child(rb_node *old, rb_node *child, rb_node *parent, rb_root *root)
{
    if (!parent)
        root->rb_node = child;
    else if (parent->rb_left == old)
        parent->rb_left = child;
    else
        parent->rb_right = child;
}

void rotate_left(rb_node *node, rb_root *root)
{
    rb_node *right = node->rb_right;
    rb_node *parent = rb_parent(node);
    node->rb_right = right->rb_left;
    if (node->rb_right)
        set_parent(node->rb_right, node);
    right->rb_left = node;
    set_parent(right, parent);
    change_child(node, right, parent, root);
    set_parent(node, right);
}

void rotate_right(rb_node *node, rb_root *root)
{
    rb_node *left = node->rb_left;
    rb_node *parent = rb_parent(node);
    node->rb_left = left->rb_right;
    if (node->rb_left)
        set_parent(node->rb_left, node);
    left->rb_right = node;
    set_parent(left, parent);
    change_child(node, left, parent, root);
    set_parent(node, left);
}

// Restores the black height after a black node was removed above node
// (which may be null) under parent.
void erase_color(rb_node *node, rb_node *parent, rb_root *root)
{
    while (is_black_or_null(node) && node != root->rb_node) {
        if (parent->rb_left == node) {
            rb_node *other = parent->rb_right;
            if (is_red(other)) {
                set_black(other);
                set_red(parent);
                rotate_left(parent, root);
                other = parent->rb_right;
            }
            if (is_black_or_null(other->rb_left) && is_black_or_null(other->rb_right)) {
                set_red(other);
                node = parent;
                parent = rb_parent(node);
            } else {
                if (is_black_or_null(other->rb_right)) {
                    set_black(other->rb_left);
                    set_red(other);
                    rotate_right(other, root);
                    other = parent->rb_right;
                }
                set_color(other, rb_color(parent));
                set_black(parent);
                set_black(other->rb_right);
                rotate_left(parent, root);
                node = root->rb_node;
                break;
            }
        } else {
            rb_node *other = parent->rb_left;
            if (is_red(other)) {
                set_black(other);
                set_red(parent);
                rotate_right(parent, root);
                other = parent->rb_left;
            }
            if (is_black_or_null(other->rb_left) && is_black_or_null(other->rb_right)) {
                set_red(other);
                node = parent;
                parent = rb_parent(node);
            } else {
                if (is_black_or_null(other->rb_left)) {
                    set_black(other->rb_right);
                    set_red(other);
                    rotate_left(other, root);
                    other = parent->rb_left;
                }
                set_color(other, rb_color(parent));
                set_black(parent);
                set_black(other->rb_left);
                rotate_right(parent, root);
                node = root->rb_node;
                break;
            }
        }
    }
    if (node)
        set_black(node);
}

} // namespace

void rb_insert_color(rb_node *node, rb_root *root)
{
    rb_node *parent;
    while ((parent = rb_parent(node)) && is_red(parent)) {
        rb_node *gparent = rb_parent(parent); // a red node is never the root
        if (parent == gparent->rb_left) {
            rb_node *uncle = gparent->rb_right;
            if (uncle && is_red(uncle)) {
                set_black(uncle);
                set_black(parent);
                set_red(gparent);
                node = gparent;
                continue;
            }
            if (parent->rb_right == node) {
                rotate_left(parent, root);
                rb_node *tmp = parent;
                parent = node;
                node = tmp;
            }
            set_black(parent);
            set_red(gparent);
            rotate_right(gparent, root);
        } else {
            rb_node *uncle = gparent->rb_left;
            if (uncle && is_red(uncle)) {
                set_black(uncle);
                set_black(parent);
                set_red(gparent);
                node = gparent;
                continue;
            }
            if (parent->rb_left == node) {
                rotate_right(parent, root);
                rb_node *tmp = parent;
                parent = node;
                node = tmp;
            }
            set_black(parent);
            set_red(gparent);
            rotate_left(gparent, root);
        }
    }
    set_black(root->rb_node);
}

void rb_erase(rb_node *node, rb_root *root)
{
    rb_node *child;
    rb_node *parent;
    unsigned color;

    if (!node->rb_left || !node->rb_right) {
        child = node->rb_left ? node->rb_left : node->rb_right;
        parent = rb_parent(node);
        color = rb_color(node);
        if (child)
            set_parent(child, parent);
        change_child(node, child, parent, root);
    } else {
        // Two children: the successor takes the node's place and colour.
        rb_node *old = node;
        node = node->rb_right;
        while (node->rb_left)
            node = node->rb_left;

        change_child(old, node, rb_parent(old), root);
        child = node->rb_right;
        parent = rb_parent(node);
        color = rb_color(node);
        if (parent == old) {
            parent = node;
        } else {
            if (child)
                set_parent(child, parent);
            parent->rb_left = child;
            node->rb_right = old->rb_right;
            set_parent(old->rb_right, node);
        }
        node->rb_parent_color = old->rb_parent_color;
        node->rb_left = old->rb_left;
        set_parent(old->rb_left, node);
    }
    if (color == RB_BLACK)
        erase_color(child, parent, root);
}

rb_node *rb_first(const rb_root *root)
{
    rb_node *n = root->rb_node;
    if (!n)
        return nullptr;
    while (n->rb_left)
        n = n->rb_left;
    return n;
}

rb_node *rb_last(const rb_root *root)
{
    rb_node *n = root->rb_node;
    if (!n)
        return nullptr;
    while (n->rb_right)
        n = n->rb_right;
    return n;
}

rb_node *rb_next(const rb_node *node)
{
    if (node->rb_right) {
        rb_node *n = node->rb_right;
        while (n->rb_left)
            n = n->rb_left;
        return n;
    }
    rb_node *parent;
    while ((parent = rb_parent(node)) && node == parent->rb_right)
        node = parent;
    return parent;
}

rb_node *rb_prev(const rb_node *node)
{
    if (node->rb_left) {
        rb_node *n = node->rb_left;
        while (n->rb_right)
            n = n->rb_right;
        return n;
    }
    rb_node *parent;
    while ((parent = rb_parent(node)) && node == parent->rb_left)
        node = parent;
    return parent;
}

void rb_replace_node(rb_node *victim, rb_node *newnode, rb_root *root)
{
    change_child(victim, newnode, rb_parent(victim), root);
    if (victim->rb_left)
        set_parent(victim->rb_left, newnode);
    if (victim->rb_right)
        set_parent(victim->rb_right, newnode);
    *newnode = *victim;
}
