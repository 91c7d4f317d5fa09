// Reference counts, smart pointers and the singleton holders. Plain copies,
// assignments and the delete that follows the last release are the threaded
// copy test's (PluginBaseConcurrency); leaks and double deletes anywhere are
// the sanitizer runs'.
#include "pdk/cfibase.h"

#include <gtest/gtest.h>

using namespace kelm_pdk_4_4;

namespace {

// Counts live objects so a test can see exactly when one is deleted.
struct Tracked : public virtual CFiRefCount {
    static int live;
    Tracked() { ++live; }
    ~Tracked() override { --live; }
};
int Tracked::live = 0;

using TrackedPtr = CFiSmartPtr<Tracked, CFiNullAllocator>;

TEST(SmartPtr, AssigningFromAPointerHeldOnlyByTheOldObjectIsSafe) {
    // The new value lives inside the object being dropped: the reference must
    // be taken before the old one is released.
    struct Holder : public virtual CFiRefCount {
        TrackedPtr inner;
    };
    CFiSmartPtr<Holder, CFiNullAllocator> h(new Holder);
    h->inner = TrackedPtr(new Tracked);
    TrackedPtr p = h->inner;
    h.reset();
    p = p; // self-assignment changes nothing
    TrackedPtr moved(std::move(p));
    EXPECT_TRUE(p.isNull());
    EXPECT_EQ(moved->getCount(), 1);
    moved.reset();
    EXPECT_EQ(Tracked::live, 0);
    // A copied object starts a count of its own.
    Tracked a;
    a.addRef();
    EXPECT_EQ(Tracked(a).getCount(), 0);
    EXPECT_EQ(a.releaseRef(), 0);
}

// ---- singleton holders ----

struct SingletonThing : public virtual CFiRefCount {
    static int created;
    static int destroyed;
    SingletonThing() { ++created; }
    ~SingletonThing() override { ++destroyed; }
};
int SingletonThing::created = 0;
int SingletonThing::destroyed = 0;

// A singleton whose destructor asks for singletons, its own type included,
// as kit objects do when they trace on the way out.
struct ReentrantThing : public virtual CFiRefCount {
    ~ReentrantThing() override {
        auto other = CFiSingleton<SingletonThing>::instance();
        CFiSingleton<SingletonThing>::instance(true);
        (void)other;
    }
};

TEST(Singleton, SameObjectUntilReleasedAndReleaseDeletesOutsideTheHoldersLock) {
    auto held = CFiSingleton<SingletonThing>::instance();
    EXPECT_EQ(held.get(), CFiSingleton<SingletonThing>::instance().get());
    CFiSingleton<SingletonThing>::instance(true);
    EXPECT_EQ(SingletonThing::destroyed, 0) << "still held by the test";
    EXPECT_NE(held.get(), CFiSingleton<SingletonThing>::instance().get()) << "a fresh one after the release";
    held.reset();
    EXPECT_EQ(SingletonThing::destroyed, 1);

    CFiSingleton<ReentrantThing>::instance();
    // Would deadlock if the object were deleted while the holder's
    // non-recursive mutex is held and the destructor used the holder.
    struct SelfUser : public virtual CFiRefCount {
        ~SelfUser() override { CFiSingleton<SelfUser>::instance(true); }
    };
    CFiSingleton<SelfUser>::instance();
    EXPECT_TRUE(CFiSingleton<SelfUser>::instance(true).isNull());
    CFiSingleton<ReentrantThing>::instance(true);
    EXPECT_EQ(SingletonThing::destroyed, SingletonThing::created);
}

} // namespace
