#include <gtest/gtest.h>

#include <vector>

#include "engine/core/object.h"

namespace {

// Counts destructions so that the tests can see what Release deleted.
struct Probe : OrvaObject {
    explicit Probe(int* deaths) : deaths(deaths) {}
    ~Probe() override { ++*deaths; }
    int* deaths;
};

}  // namespace

TEST(OrvaObject, StartsAtOneAndDeletesAtZero)
{
    int deaths = 0;
    Probe* p = new Probe(&deaths);
    EXPECT_EQ(p->GetRefCount(), 1);
    p->AddRef();
    EXPECT_EQ(p->Release(), 1);
    EXPECT_EQ(deaths, 0);
    EXPECT_EQ(p->Release(), 0);
    EXPECT_EQ(deaths, 1);
}

TEST(OrvaObjectList, PushKeepsOrderAndMovesBetweenLists)
{
    int deaths = 0;
    OrvaObjectList a, b;
    Probe* p1 = new Probe(&deaths);
    Probe* p2 = new Probe(&deaths);
    Probe* p3 = new Probe(&deaths);
    EXPECT_EQ(a.PushBack(p1), 1);
    EXPECT_EQ(a.PushBack(p2), 2);
    a.PushFront(p3);
    EXPECT_EQ(a.GetAt(0), p3);
    EXPECT_EQ(a.GetAt(1), p1);
    EXPECT_EQ(a.GetAt(2), p2);
    EXPECT_EQ(a.GetAt(3), nullptr);
    EXPECT_EQ(a.GetAt(-1), nullptr);

    // Pushing into another list unlinks from the first.
    b.PushFront(p1);
    EXPECT_EQ(a.GetCount(), 2);
    EXPECT_EQ(a.GetAt(1), p2);
    EXPECT_EQ(b.GetHead(), p1);
    EXPECT_EQ(p1->GetOwner(), &b);
}

TEST(OrvaObjectList, DestructorUnlinksAndReleaseAllEmpties)
{
    int deaths = 0;
    OrvaObjectList list;
    Probe* p1 = new Probe(&deaths);
    Probe* p2 = new Probe(&deaths);
    Probe* p3 = new Probe(&deaths);
    list.PushBack(p1);
    list.PushBack(p2);
    list.PushBack(p3);
    p2->Release();
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetAt(1), p3);

    // One member is held elsewhere: it survives ReleaseAll, and its later
    // destruction must not touch the emptied list.
    p3->AddRef();
    list.ReleaseAll();
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetHead(), nullptr);
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(p3->GetOwner(), nullptr);
    Probe* p4 = new Probe(&deaths);
    list.PushBack(p4);
    p3->Release();
    EXPECT_EQ(deaths, 3);
    EXPECT_EQ(list.GetCount(), 1);
    EXPECT_EQ(list.GetHead(), p4);

    // Init empties the list without releasing the members: they are
    // disowned alike, so one released later leaves the members made since.
    list.Init();
    EXPECT_EQ(deaths, 3);
    Probe* p5 = new Probe(&deaths);
    Probe* p6 = new Probe(&deaths);
    list.PushBack(p5);
    list.PushBack(p6);
    p4->Release();
    EXPECT_EQ(deaths, 4);
    EXPECT_EQ(list.GetCount(), 2);
    EXPECT_EQ(list.GetHead(), p5);
    EXPECT_EQ(list.GetAt(1), p6);
    list.ReleaseAll();
    EXPECT_EQ(deaths, 6);
}

namespace {

// Owns a reference to another member of its list and drops it when
// destroyed, as a model does with the model attached to it.
struct Holder : OrvaObject {
    Holder(int* deaths, OrvaObject* held) : deaths(deaths), held(held) {}
    ~Holder() override
    {
        if (held != nullptr) {
            held->Release();
        }
        ++*deaths;
    }
    int* deaths;
    OrvaObject* held;
};

}  // namespace

TEST(OrvaObjectList, ReleaseAllSurvivesMembersReleasingTheirNeighbours)
{
    int deaths = 0;
    OrvaObjectList list;
    Holder* b = new Holder(&deaths, nullptr);
    Holder* c = new Holder(&deaths, nullptr);
    // a is given the only reference to b, the member after it; c is also
    // held elsewhere, and survives.
    Holder* a = new Holder(&deaths, b);
    list.PushBack(a);
    list.PushBack(b);
    list.PushBack(c);
    c->AddRef();
    // a's destruction destroys b: the walk must neither read b after it is
    // gone nor release it twice, and must still reach c.
    list.ReleaseAll();
    EXPECT_EQ(deaths, 2);
    EXPECT_EQ(c->GetRefCount(), 1);
    EXPECT_EQ(c->GetOwner(), nullptr);
    EXPECT_EQ(list.GetCount(), 0);
    EXPECT_EQ(list.GetHead(), nullptr);
    c->Release();
    EXPECT_EQ(deaths, 3);
}
