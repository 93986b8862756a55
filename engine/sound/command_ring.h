#pragma once
#include <atomic>
#include <cstdint>
#include <type_traits>

#include "engine/core/application.h"
#include "platform/sys/critical_section.h"
#include "platform/sys/event.h"
#include "platform/sys/thread.h"

class OrvaObject;
class OrvaObjectList;

// One command for a worker module, copied by value into the ring and out of
// it again.
struct OrvaCommandMessage {
    static constexpr uint32_t kArgsSize = 256;
    // Where the second of two names starts in args.
    static constexpr uint32_t kSecondNameOffset = 128;

    uint32_t valid = 0;             // 1 while the slot holds a command that waits
    uint32_t command = 0;           // code from the module's command table
    OrvaObject* object = nullptr;   // null for the quit command
    uint8_t args[kArgsSize] = {};   // a name, two names, or one 32-bit word at 0

    uint32_t GetWord() const;
    int32_t GetInt() const { return static_cast<int32_t>(GetWord()); }
    float GetFloat() const;
    // The name from byte 0, always terminated within args.
    const char* GetName() const;
    // The second of two names, from kSecondNameOffset.
    const char* GetSecondName() const;
};

// One entry of a module's command table, indexed by command code. The
// entries that call an operation of the command's object are made by
// OrvaRunCommand below.
struct OrvaCommandEntry {
    // Runs on the worker; null for a code that does nothing.
    void (*run)(OrvaObject* object, const OrvaCommandMessage& message) = nullptr;
    // False: run holds the module lock throughout. True: run is called
    // without it and takes it itself around what it shares (a file load
    // builds its stream unlocked, so a post or IsPlaying on the main thread
    // never waits for the disk). Either way the object stays alive, since
    // only the worker destroys objects.
    bool locksItself = false;
};

// What distinguishes one worker module from another.
struct OrvaWorkerModule {
    const char* threadName = "";
    const char* startBanner = "";
    const char* endBanner = "";
    const OrvaCommandEntry* commands = nullptr;
    uint32_t commandCount = 0;
    uint32_t quitCode = 0;
    // The module's live objects; released on the worker at quit. A function:
    // the list is made on first use (OrvaApplication::GetModuleList), not
    // while the statics are.
    OrvaObjectList& (*objects)() = nullptr;
    // On the worker, before the first command is served; may be null.
    void (*setUp)() = nullptr;
    // On the worker, after the objects are released; may be null.
    void (*tearDown)() = nullptr;
};

// The command ring and worker thread of one module.
//
// Threads: Start, Stop, the posts, WaitIdle and GetLock are for the posting
// threads (the main thread in this program). The command handlers, setUp
// and tearDown run on the worker. Commands are served one at a time in the
// order they were posted, also across the wrap from the last slot to the
// first.
//
// Two locks: the ring's own (slots and indices), held only while a command is
// copied in or out, so a post never waits for a command to run; and the
// module lock (GetLock), which guards the object list and every call into
// the module's objects, held by the worker while it runs a command.
class OrvaCommandRing {
public:
    static constexpr int32_t kSlotCount = 64;

    explicit OrvaCommandRing(const OrvaWorkerModule& module);
    // Stops a worker still running, so its objects are released.
    ~OrvaCommandRing();

    // Logs the start banner and starts the worker; returns 1 once it serves.
    int32_t Start();
    // Logs the end banner; when started, posts quit and waits for the worker,
    // which releases every object still alive. Later posts are dropped.
    void Stop();
    bool IsStarted() const;

    // Posts a command with one 32-bit word (an integer, or a float's bits).
    void PostWord(uint32_t command, OrvaObject* object, uint32_t word);
    void PostFloat(uint32_t command, OrvaObject* object, float value);
    // Posts a command with a name of at most 255 bytes; a longer one is
    // refused with a log line and false. A null name is posted as empty.
    bool PostName(uint32_t command, OrvaObject* object, const char* name);
    // Posts a command with two names of at most 127 bytes each.
    bool PostNames(uint32_t command, OrvaObject* object, const char* first, const char* second);

    // Returns when every command posted so far has been served (at once when
    // the module is stopped).
    void WaitIdle();

    platform::CriticalSection& GetLock() { return lock; }
    // True when the object is in the module's list; call with the lock held.
    bool IsLive(const OrvaObject* object) const;

    // ---- The steps every module's class takes over its ring.
    // Starts the worker unless it runs; 1 once it serves. Started already,
    // it logs nothing.
    int32_t StartOnce();
    // Links a new object at the head of the module's list, under the lock,
    // and logs createLine ("○ CreateX / ID [0x%08X] / ") with its address.
    // False for null: the allocation failed.
    bool Adopt(OrvaObject* made, const char* createLine);
    // The module's IsPlaying: 0 for a null object (the lock is not taken)
    // or one whose release was served (it is not read); else the object's
    // GetPlaying, called under the lock on the calling thread.
    template <class Object>
    int32_t IsPlaying(Object* object)
    {
        return AskPlaying(object, [](OrvaObject* live) { return static_cast<Object*>(live)->GetPlaying(); });
    }
    // An object's address as the log prints it after "ID [0x%08X]".
    static uint32_t LogId(const void* object);

    OrvaCommandRing(const OrvaCommandRing&) = delete;
    OrvaCommandRing& operator=(const OrvaCommandRing&) = delete;

private:
    int32_t AskPlaying(OrvaObject* object, int32_t (*ask)(OrvaObject*));
    void Post(const OrvaCommandMessage& message, bool quit);
    static void ThreadProc(void* ring);
    void Serve();
    // Runs one command; true for quit.
    bool Dispatch(const OrvaCommandMessage& message);

    const OrvaWorkerModule& module;
    OrvaCommandMessage slots[kSlotCount];
    platform::Event events[kSlotCount];
    platform::Event* eventList[kSlotCount] = {};
    int32_t writeIndex = 0;
    // The oldest slot that may wait: the worker serves from here onward.
    int32_t readIndex = 0;
    // Commands posted and not yet served.
    int32_t unserved = 0;
    // Set when nothing posted waits to be served. Starts set: nothing was posted.
    platform::Event drainedEvent{true};
    // Set by the worker each time it frees a slot; a post into a full ring
    // waits on it.
    platform::Event slotFreed;
    platform::Event startEvent;
    platform::CriticalSection ringLock;
    platform::CriticalSection lock;
    platform::Thread thread;
    std::atomic<bool> accepting{false};
    bool started = false;  // main thread only
};

// What the worker modules' operations share beyond the ring.

// The attenuation of a volume in percent, in hundredths of a decibel: 0 at
// 100 and above, -10000 below 0, else -(100 - percent) squared, truncated
// toward zero.
int32_t OrvaVolumeToAttenuation(float percent);
// The balance of a pan from -100 (left) to 100 (right), in hundredths of a
// decibel: the pan squared with its sign, truncated toward zero; +-10000
// beyond +-100.
int32_t OrvaPanToBalance(float pan);

// Command table entries that call the command's own operation on its object:
// OrvaRunCommand<&OrvaSound::ExecPlay> passes the message's integer, float,
// name or two names, as the operation takes them, or nothing.
template <class... Args>
struct OrvaCommandFirstArg {
    using Type = void;
};
template <class First, class... Rest>
struct OrvaCommandFirstArg<First, Rest...> {
    using Type = First;
};

template <class Member>
struct OrvaCommandOperation;
template <class Class, class Result, class... Args>
struct OrvaCommandOperation<Result (Class::*)(Args...)> {
    using Object = Class;
    using First = typename OrvaCommandFirstArg<Args...>::Type;
    static constexpr size_t kArgCount = sizeof...(Args);
};

template <auto Operation>
void OrvaRunCommand(OrvaObject* object, const OrvaCommandMessage& message)
{
    using Op = OrvaCommandOperation<decltype(Operation)>;
    auto* target = static_cast<typename Op::Object*>(object);
    if constexpr (Op::kArgCount == 0) {
        (target->*Operation)();
    } else if constexpr (Op::kArgCount == 2) {
        (target->*Operation)(message.GetName(), message.GetSecondName());
    } else if constexpr (std::is_same_v<typename Op::First, float>) {
        (target->*Operation)(message.GetFloat());
    } else if constexpr (std::is_same_v<typename Op::First, int32_t>) {
        (target->*Operation)(message.GetInt());
    } else {
        static_assert(std::is_same_v<typename Op::First, const char*>, "a command passes a word, a float or names");
        (target->*Operation)(message.GetName());
    }
}

// The release command of every module: the object's Release, on the worker.
void OrvaRunRelease(OrvaObject* object, const OrvaCommandMessage& message);

// The list of the objects of the worker module served by `ring`, for its
// OrvaWorkerModule::objects: made on first use and never destroyed (see
// OrvaApplication::GetModuleList). A worker still running at exit is
// stopped before the list is released there: the worker releases its own
// objects, and nothing is left for the release on the main thread to touch
// while it runs.
template <OrvaCommandRing& ring, OrvaModule id>
OrvaObjectList& OrvaWorkerModuleList()
{
    static OrvaObjectList& list = OrvaApplication::GetModuleList(id, [] {
        if (ring.IsStarted()) {
            ring.Stop();
        }
    });
    return list;
}
