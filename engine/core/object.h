#pragma once
// OrvaObject and OrvaObjectList: the reference-counted engine object and
// the list of live objects every module keeps.
#include <cstdint>

class OrvaObjectList;

// Base of every engine resource: reference counted, linked into the list of
// its module. The handle a create operation returns is the object's address.
class OrvaObject {
public:
    OrvaObject();
    virtual ~OrvaObject();
    // Count - 1; deletes the object at 0. Returns the new count.
    virtual int32_t Release();
    virtual void AddRef();

    int32_t GetRefCount() const { return refCount; }
    OrvaObjectList* GetOwner() const { return owner; }
    OrvaObject* GetNext() const { return next; }
    OrvaObject* GetPrev() const { return prev; }

    OrvaObject(const OrvaObject&) = delete;
    OrvaObject& operator=(const OrvaObject&) = delete;

private:
    friend class OrvaObjectList;
    int32_t refCount = 1;
    OrvaObjectList* owner = nullptr;
    OrvaObject* prev = nullptr;
    OrvaObject* next = nullptr;
};

// The live objects of one engine class, walked at device loss and reset and
// at shut-down. A module's own list comes from
// OrvaApplication::GetModuleList, which releases it at process exit; one
// inside an object goes with the object.
class OrvaObjectList {
public:
    OrvaObjectList() = default;
    // Releases every member still in the list.
    ~OrvaObjectList();

    // Empties the list without releasing the objects: they are disowned,
    // and their later release leaves the list alone.
    void Init();
    // Unlinks the object from the list it is in, then links it at the head.
    void PushFront(OrvaObject* object);
    // The same at the tail; returns the new count.
    int32_t PushBack(OrvaObject* object);
    // Unlinks the object when it belongs to this list.
    void Remove(OrvaObject* object);
    OrvaObject* GetHead() const { return head; }
    // The object at a 0-based position from the head; null past the end.
    OrvaObject* GetAt(int32_t index) const;
    int32_t GetCount() const { return count; }
    // Release on every member from the head (the next link read before each
    // call), then empties the list whether or not the objects were destroyed.
    void ReleaseAll();
    // Calls the method (through the virtual table when it is virtual) on
    // every member from the head, each taken as a T: the module walkers of
    // device loss, device reset and rendering. The method must not unlink
    // the member it is called on.
    template <typename T>
    void ForEach(void (T::*method)()) const
    {
        for (OrvaObject* o = head; o != nullptr; o = o->GetNext()) {
            (static_cast<T*>(o)->*method)();
        }
    }

    OrvaObjectList(const OrvaObjectList&) = delete;
    OrvaObjectList& operator=(const OrvaObjectList&) = delete;

private:
    OrvaObject* head = nullptr;
    OrvaObject* tail = nullptr;
    int32_t count = 0;
};
