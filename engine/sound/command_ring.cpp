#include "engine/sound/command_ring.h"

#include <bit>
#include <cmath>
#include <cstring>

#include "engine/core/debug.h"
#include "engine/core/object.h"

uint32_t OrvaCommandMessage::GetWord() const
{
    uint32_t word = 0;
    std::memcpy(&word, args, sizeof word);
    return word;
}

float OrvaCommandMessage::GetFloat() const
{
    return std::bit_cast<float>(GetWord());
}

const char* OrvaCommandMessage::GetName() const
{
    return reinterpret_cast<const char*>(args);
}

const char* OrvaCommandMessage::GetSecondName() const
{
    return reinterpret_cast<const char*>(args + kSecondNameOffset);
}

// A command that waits, for the object, with args zeroed.
static OrvaCommandMessage Waiting(uint32_t command, OrvaObject* object)
{
    OrvaCommandMessage message;
    message.valid = 1;
    message.command = command;
    message.object = object;
    return message;
}

OrvaCommandRing::OrvaCommandRing(const OrvaWorkerModule& module) : module(module)
{
    for (int32_t i = 0; i < kSlotCount; ++i) {
        eventList[i] = &events[i];
    }
}

OrvaCommandRing::~OrvaCommandRing()
{
    if (started) {
        Stop();
    }
}

bool OrvaCommandRing::IsStarted() const
{
    return started;
}

int32_t OrvaCommandRing::Start()
{
    OrvaDebug::Log("%s", module.startBanner);
    if (started) {
        return 1;
    }
    // The module's list is made here, on the posting thread, before the
    // worker that reads it exists, and with it the worker's stop at exit.
    if (module.objects != nullptr) {
        module.objects();
    }
    startEvent.Reset();
    if (!thread.Start(module.threadName, &OrvaCommandRing::ThreadProc, this)) {
        OrvaDebug::Log("エラー : スレッドの生成に失敗\n");
        return 0;
    }
    startEvent.Wait();
    started = true;
    return 1;
}

void OrvaCommandRing::Stop()
{
    OrvaDebug::Log("%s", module.endBanner);
    if (!started) {
        return;
    }
    Post(Waiting(module.quitCode, nullptr), true);
    thread.Join();
    started = false;
}

void OrvaCommandRing::ThreadProc(void* ring)
{
    static_cast<OrvaCommandRing*>(ring)->Serve();
}

void OrvaCommandRing::Serve()
{
    if (module.setUp != nullptr) {
        module.setUp();
    }
    {
        platform::ScopedLock guard(ringLock);
        for (int32_t i = 0; i < kSlotCount; ++i) {
            slots[i] = OrvaCommandMessage();
            events[i].Reset();
        }
        writeIndex = 0;
        readIndex = 0;
        unserved = 0;
        drainedEvent.Set();
        slotFreed.Reset();
        accepting.store(true);
    }
    startEvent.Set();

    for (bool running = true; running;) {
        platform::WaitForAnyEvent(eventList, kSlotCount);
        // The wait names the lowest signalled slot, which after a wrap is not
        // the oldest: posts fill the slots in turn, so the oldest command
        // that waits is always at readIndex.
        OrvaCommandMessage message;
        {
            platform::ScopedLock guard(ringLock);
            OrvaCommandMessage& slot = slots[readIndex];
            if (slot.valid == 0) {
                // Cannot happen while posts fill the slots in turn; should it,
                // a stray signal must not spin the worker.
                for (int32_t i = 0; i < kSlotCount; ++i) {
                    if (slots[i].valid == 0) {
                        events[i].Reset();
                    }
                }
                continue;
            }
            message = slot;
            slot.valid = 0;
            events[readIndex].Reset();
            readIndex = (readIndex + 1) & (kSlotCount - 1);
            slotFreed.Set();
        }
        running = !Dispatch(message);
        platform::ScopedLock guard(ringLock);
        if (--unserved == 0) {
            drainedEvent.Set();
        }
    }

    {
        platform::ScopedLock guard(lock);
        if (module.objects != nullptr) {
            module.objects().ReleaseAll();
        }
    }
    if (module.tearDown != nullptr) {
        module.tearDown();
    }
}

bool OrvaCommandRing::IsLive(const OrvaObject* object) const
{
    if (object == nullptr || module.objects == nullptr) {
        return false;
    }
    // Compare addresses only: a released object must not be read.
    for (const OrvaObject* o = module.objects().GetHead(); o != nullptr; o = o->GetNext()) {
        if (o == object) {
            return true;
        }
    }
    return false;
}

bool OrvaCommandRing::Dispatch(const OrvaCommandMessage& message)
{
    if (message.command == module.quitCode) {
        return true;
    }
    if (message.command >= module.commandCount || message.object == nullptr) {
        return false;
    }
    const OrvaCommandEntry& entry = module.commands[message.command];
    if (entry.run == nullptr) {
        return false;
    }
    platform::ScopedLock guard(lock);
    // A command posted after its object's release would reach freed memory.
    if (!IsLive(message.object)) {
        OrvaDebug::Log("エラー : 解放済みのオブジェクトへのコマンド %u / ID [0x%08X]\n", message.command,
                       static_cast<uint32_t>(reinterpret_cast<uintptr_t>(message.object)));
        return false;
    }
    if (entry.locksItself) {
        lock.Leave();
        entry.run(message.object, message);
        lock.Enter();
    } else {
        entry.run(message.object, message);
    }
    return false;
}

void OrvaCommandRing::Post(const OrvaCommandMessage& message, bool quit)
{
    if (!accepting.load()) {
        return;
    }
    bool waited = false;
    for (;;) {
        int32_t full = -1;
        {
            platform::ScopedLock guard(ringLock);
            if (!accepting.load()) {
                return;
            }
            OrvaCommandMessage& slot = slots[writeIndex];
            if (slot.valid == 0) {
                slot = message;
                slot.valid = 1;
                events[writeIndex].Set();
                writeIndex = (writeIndex + 1) & (kSlotCount - 1);
                ++unserved;
                drainedEvent.Reset();
                if (quit) {
                    // Nothing posted after quit would ever be served.
                    accepting.store(false);
                }
                return;
            }
            if (thread.IsCurrent()) {
                // The worker cannot wait for itself to free a slot.
                full = -2;
            } else {
                full = writeIndex;
                slotFreed.Reset();
            }
        }
        if (full == -2) {
            OrvaDebug::Log("エラー : コマンドリングが満杯 / コマンド %u を破棄\n", message.command);
            return;
        }
        // Every slot waits: overwriting one would lose a command (a release
        // or a load), so wait for the worker to take the oldest.
        if (!waited) {
            OrvaDebug::Log("■ コマンドリングが満杯 / スロット %d の空きを待機\n", full);
            waited = true;
        }
        slotFreed.Wait();
    }
}

void OrvaCommandRing::PostWord(uint32_t command, OrvaObject* object, uint32_t word)
{
    if (object == nullptr) {
        return;
    }
    OrvaCommandMessage message = Waiting(command, object);
    std::memcpy(message.args, &word, sizeof word);
    Post(message, false);
}

void OrvaCommandRing::PostFloat(uint32_t command, OrvaObject* object, float value)
{
    PostWord(command, object, std::bit_cast<uint32_t>(value));
}

bool OrvaCommandRing::PostName(uint32_t command, OrvaObject* object, const char* name)
{
    if (object == nullptr) {
        return false;
    }
    const char* text = name != nullptr ? name : "";
    const size_t length = std::strlen(text);
    if (length >= OrvaCommandMessage::kArgsSize) {
        OrvaDebug::Log("エラー : ファイル名が長すぎます [%zu バイト]\n", length);
        return false;
    }
    OrvaCommandMessage message = Waiting(command, object);
    std::memcpy(message.args, text, length + 1);
    Post(message, false);
    return true;
}

bool OrvaCommandRing::PostNames(uint32_t command, OrvaObject* object, const char* first, const char* second)
{
    if (object == nullptr) {
        return false;
    }
    const char* a = first != nullptr ? first : "";
    const char* b = second != nullptr ? second : "";
    const size_t lengthA = std::strlen(a);
    const size_t lengthB = std::strlen(b);
    const size_t half = OrvaCommandMessage::kSecondNameOffset;
    if (lengthA >= half || lengthB >= OrvaCommandMessage::kArgsSize - half) {
        OrvaDebug::Log("エラー : ファイル名が長すぎます [%zu / %zu バイト]\n", lengthA, lengthB);
        return false;
    }
    OrvaCommandMessage message = Waiting(command, object);
    std::memcpy(message.args, a, lengthA + 1);
    std::memcpy(message.args + half, b, lengthB + 1);
    Post(message, false);
    return true;
}

void OrvaCommandRing::WaitIdle()
{
    if (!started || thread.IsCurrent()) {
        return;
    }
    drainedEvent.Wait();
}

int32_t OrvaCommandRing::StartOnce()
{
    return started ? 1 : Start();
}

bool OrvaCommandRing::Adopt(OrvaObject* made, const char* createLine)
{
    if (made == nullptr) {
        return false;
    }
    {
        platform::ScopedLock guard(lock);
        if (module.objects != nullptr) {
            module.objects().PushFront(made);
        }
    }
    OrvaDebug::Log(createLine, LogId(made));
    return true;
}

int32_t OrvaCommandRing::AskPlaying(OrvaObject* object, int32_t (*ask)(OrvaObject*))
{
    if (object == nullptr) {
        return 0;
    }
    platform::ScopedLock guard(lock);
    // An object whose release was served is gone: do not read it.
    if (!IsLive(object)) {
        return 0;
    }
    return ask(object);
}

uint32_t OrvaCommandRing::LogId(const void* object)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object));
}

int32_t OrvaVolumeToAttenuation(float percent)
{
    // The attenuation, in hundredths of a decibel, falls with the square of
    // the distance from full volume.
    double attenuation = 0.0;
    if (percent > 100.0f) {
        attenuation = 0.0;
    } else if (percent < 0.0f) {
        attenuation = -10000.0;
    } else {
        attenuation = -std::pow(100.0, std::log10(100.0 - percent));
    }
    return static_cast<int32_t>(std::trunc(attenuation));
}

int32_t OrvaPanToBalance(float pan)
{
    double balance = 0.0;
    if (pan > 100.0f) {
        balance = 10000.0;
    } else if (pan < -100.0f) {
        balance = -10000.0;
    } else if (pan > 0.0f) {
        balance = std::pow(100.0, std::log10(static_cast<double>(pan)));
    } else if (pan < 0.0f) {
        balance = -std::pow(100.0, std::log10(-static_cast<double>(pan)));
    }
    return static_cast<int32_t>(std::trunc(balance));
}

void OrvaRunRelease(OrvaObject* object, const OrvaCommandMessage&)
{
    object->Release();
}
