// Red-black tree: invariants and order against std::map under random
// insertions, replacements and deletions.
#include <ic/util/rbtree.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <memory>
#include <random>
#include <vector>

namespace {

struct item {
    int key;
    int value;
    rb_node node;
};

item *item_of(rb_node *n)
{
    return rb_entry(n, item, node);
}

item *find(rb_root *root, int key)
{
    rb_node *n = root->rb_node;
    while (n) {
        item *it = item_of(n);
        if (key == it->key)
            return it;
        n = key < it->key ? n->rb_left : n->rb_right;
    }
    return nullptr;
}

// Links it, or puts it in the place of the item with the same key, which is
// returned.
item *insert(rb_root *root, item *it)
{
    rb_node **link = &root->rb_node;
    rb_node *parent = nullptr;
    while (*link) {
        parent = *link;
        item *cur = item_of(parent);
        if (it->key == cur->key) {
            rb_replace_node(parent, &it->node, root);
            return cur;
        }
        link = it->key < cur->key ? &parent->rb_left : &parent->rb_right;
    }
    rb_link_node(&it->node, parent, link);
    rb_insert_color(&it->node, root);
    return nullptr;
}

// Checks the red-black properties below n and returns its black height.
int check(const rb_node *n, const rb_node *parent, const int *lo, const int *hi)
{
    if (!n)
        return 1;
    EXPECT_EQ(rb_parent(n), parent);
    EXPECT_EQ(n->rb_parent_color & 2u, 0u);
    int key = rb_entry(const_cast<rb_node *>(n), item, node)->key;
    if (lo) {
        EXPECT_LT(*lo, key);
    }
    if (hi) {
        EXPECT_LT(key, *hi);
    }
    if (rb_color(n) == RB_RED) {
        EXPECT_TRUE(!n->rb_left || rb_color(n->rb_left) == RB_BLACK);
        EXPECT_TRUE(!n->rb_right || rb_color(n->rb_right) == RB_BLACK);
    }
    int left = check(n->rb_left, n, lo, &key);
    int right = check(n->rb_right, n, &key, hi);
    EXPECT_EQ(left, right) << "black heights differ under key " << key;
    return left + (rb_color(n) == RB_BLACK ? 1 : 0);
}

int height(const rb_node *n)
{
    return n ? 1 + std::max(height(n->rb_left), height(n->rb_right)) : 0;
}

void check_tree(rb_root *root, const std::map<int, int> &model)
{
    if (root->rb_node) {
        EXPECT_EQ(rb_color(root->rb_node), RB_BLACK);
    }
    check(root->rb_node, nullptr, nullptr, nullptr);

    std::vector<std::pair<int, int>> forward, backward;
    for (rb_node *n = rb_first(root); n; n = rb_next(n))
        forward.emplace_back(item_of(n)->key, item_of(n)->value);
    for (rb_node *n = rb_last(root); n; n = rb_prev(n))
        backward.emplace_back(item_of(n)->key, item_of(n)->value);
    std::vector<std::pair<int, int>> expect(model.begin(), model.end());
    ASSERT_EQ(forward, expect);
    std::vector<std::pair<int, int>> reversed(expect.rbegin(), expect.rend());
    ASSERT_EQ(backward, reversed);
}

TEST(RbTree, EmptyTree)
{
    rb_root root{nullptr};
    EXPECT_TRUE(rb_empty_root(&root));
    EXPECT_EQ(rb_first(&root), nullptr);
    EXPECT_EQ(rb_last(&root), nullptr);
}

TEST(RbTree, NodeLayoutIsParentRightLeft)
{
    EXPECT_EQ(offsetof(rb_node, rb_parent_color), 0u);
    EXPECT_EQ(offsetof(rb_node, rb_right), sizeof(void *));
    EXPECT_EQ(offsetof(rb_node, rb_left), 2 * sizeof(void *));
    EXPECT_EQ(sizeof(rb_node), 3 * sizeof(void *));
    EXPECT_EQ(sizeof(rb_root), sizeof(void *));
}

// Ascending, descending and random insertion orders all stay balanced.
TEST(RbTree, SequentialInsertionsStayBalanced)
{
    for (int order = 0; order < 3; ++order) {
        const int n = 1000;
        std::vector<int> keys(n);
        for (int i = 0; i < n; ++i)
            keys[i] = order == 1 ? n - i : i;
        if (order == 2)
            std::shuffle(keys.begin(), keys.end(), std::mt19937(7));
        std::vector<item> items(n);
        rb_root root{nullptr};
        std::map<int, int> model;
        for (int i = 0; i < n; ++i) {
            items[i] = {keys[i], i, {}};
            insert(&root, &items[i]);
            model[keys[i]] = i;
        }
        check_tree(&root, model);
        // Height bound of a red-black tree: 2 log2(n + 1).
        EXPECT_LE(height(root.rb_node), int(2 * std::log2(n + 1)));
    }
}

TEST(RbTree, RandomOperationsMatchStdMap)
{
    for (unsigned seed : {1u, 2u, 3u, 4u, 5u}) {
        SCOPED_TRACE(seed);
        std::mt19937 rng(seed);
        std::uniform_int_distribution<int> key_of(0, 199);
        std::uniform_int_distribution<int> op_of(0, 9);
        std::vector<std::unique_ptr<item>> owned;
        rb_root root{nullptr};
        std::map<int, int> model;
        for (int step = 0; step < 4000; ++step) {
            int key = key_of(rng);
            int op = op_of(rng);
            if (op < 5) { // insert or replace
                owned.push_back(std::make_unique<item>(item{key, step, {}}));
                item *old = insert(&root, owned.back().get());
                EXPECT_EQ(old != nullptr, model.count(key) == 1);
                model[key] = step;
            } else if (op < 9) { // erase
                item *it = find(&root, key);
                ASSERT_EQ(it != nullptr, model.count(key) == 1);
                if (it) {
                    rb_erase(&it->node, &root);
                    model.erase(key);
                }
            } else if (!model.empty()) { // erase the first or the last
                rb_node *n = step % 2 ? rb_first(&root) : rb_last(&root);
                int k = item_of(n)->key;
                rb_erase(n, &root);
                model.erase(k);
            }
            if (step % 50 == 0)
                check_tree(&root, model);
        }
        check_tree(&root, model);
        while (root.rb_node)
            rb_erase(root.rb_node, &root); // erasing the root each time
        EXPECT_TRUE(rb_empty_root(&root));
    }
}

TEST(RbTree, ReplaceNodeKeepsPlaceAndColour)
{
    std::vector<item> items(16);
    rb_root root{nullptr};
    std::map<int, int> model;
    for (int i = 0; i < 16; ++i) {
        items[i] = {i * 10, i, {}};
        insert(&root, &items[i]);
        model[i * 10] = i;
    }
    for (int key : {0, 70, 150, item_of(root.rb_node)->key}) {
        item *old = find(&root, key);
        rb_node before = old->node;
        item fresh{key, -key - 1, {}};
        EXPECT_EQ(insert(&root, &fresh), old);
        EXPECT_EQ(fresh.node.rb_parent_color, before.rb_parent_color);
        EXPECT_EQ(fresh.node.rb_left, before.rb_left);
        EXPECT_EQ(fresh.node.rb_right, before.rb_right);
        model[key] = -key - 1;
        check_tree(&root, model);
        // Put the original back so that the next round finds it in place.
        rb_replace_node(&fresh.node, &old->node, &root);
        model[key] = old->value;
        check_tree(&root, model);
    }
}

} // namespace
