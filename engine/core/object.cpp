// Reference counting of engine objects and the lists of each module.
#include "engine/core/object.h"

OrvaObject::OrvaObject() = default;

OrvaObject::~OrvaObject()
{
    if (owner != nullptr) {
        owner->Remove(this);
    }
}

int32_t OrvaObject::Release()
{
    const int32_t left = --refCount;
    if (left == 0) {
        delete this;
    }
    return left;
}

void OrvaObject::AddRef()
{
    ++refCount;
}

OrvaObjectList::~OrvaObjectList()
{
    ReleaseAll();
}

void OrvaObjectList::Init()
{
    // The members are disowned, not released: one of them destroyed later
    // must not unlink itself from the list as it is by then, whose head and
    // count belong to objects made since.
    for (OrvaObject* o = head; o != nullptr;) {
        OrvaObject* next = o->next;
        o->owner = nullptr;
        o->prev = nullptr;
        o->next = nullptr;
        o = next;
    }
    head = nullptr;
    tail = nullptr;
    count = 0;
}

void OrvaObjectList::Remove(OrvaObject* object)
{
    if (object == nullptr || object->owner != this) {
        return;
    }
    if (object->prev != nullptr) {
        object->prev->next = object->next;
    } else {
        head = object->next;
    }
    if (object->next != nullptr) {
        object->next->prev = object->prev;
    } else {
        tail = object->prev;
    }
    object->prev = nullptr;
    object->next = nullptr;
    object->owner = nullptr;
    --count;
}

void OrvaObjectList::PushFront(OrvaObject* object)
{
    if (object == nullptr) {
        return;
    }
    if (object->owner != nullptr) {
        object->owner->Remove(object);
    }
    object->owner = this;
    object->prev = nullptr;
    object->next = head;
    if (head != nullptr) {
        head->prev = object;
    } else {
        tail = object;
    }
    head = object;
    ++count;
}

int32_t OrvaObjectList::PushBack(OrvaObject* object)
{
    if (object == nullptr) {
        return count;
    }
    if (object->owner != nullptr) {
        object->owner->Remove(object);
    }
    object->owner = this;
    object->next = nullptr;
    object->prev = tail;
    if (tail != nullptr) {
        tail->next = object;
    } else {
        head = object;
    }
    tail = object;
    return ++count;
}

OrvaObject* OrvaObjectList::GetAt(int32_t index) const
{
    if (index < 0) {
        return nullptr;
    }
    OrvaObject* object = head;
    while (object != nullptr && index > 0) {
        object = object->next;
        --index;
    }
    return object;
}

void OrvaObjectList::ReleaseAll()
{
    // The release may destroy the object and unlink it, so the next link is
    // read first. A destroyed object may also let go of the member after it
    // (a model dropping the only reference to the model attached to it), so
    // that member is held across the call: when the hold is all that keeps
    // it, it is gone already and is let go without a second release.
    OrvaObject* object = head;
    while (object != nullptr) {
        OrvaObject* next = object->next;
        if (next != nullptr) {
            next->AddRef();
        }
        object->Release();
        while (next != nullptr && next->refCount == 1) {
            OrvaObject* after = next->next;
            if (after != nullptr) {
                after->AddRef();
            }
            next->Release();
            next = after;
        }
        if (next != nullptr) {
            --next->refCount;
        }
        object = next;
    }
    // Objects that outlive their release (held elsewhere) are no longer ours.
    Init();
}
