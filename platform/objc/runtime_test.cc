#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "platform/objc/block.h"
#include "platform/objc/nsobject.h"

namespace {

// Animals die on the test threads of the concurrency test too.
std::atomic<int> g_destroyed{0};

struct Animal : NSObject {
  long legs = 4;
  ~Animal() { ++g_destroyed; }
};

Class animalClass() {
  static Class cls = [] {
    Class c = objc::defineClass<Animal>("TestAnimal", objc::nsobjectClass());
    addMethod(
        c, "legs"_sel, +[](id self, SEL) -> long { return static_cast<Animal*>(self)->legs; });
    addMethod(
        c, "sound"_sel, +[](id, SEL) -> const char* { return "..."; });
    addMethod(
        c, "scaled:by:"_sel, +[](id self, SEL, long a, double f) -> double {
          return static_cast<double>(static_cast<Animal*>(self)->legs * a) * f;
        });
    return c;
  }();
  return cls;
}

Class dogClass() {
  static Class cls = [] {
    Class c = objc::defineClass<Animal>("TestDog", animalClass());
    addMethod(
        c, "sound"_sel, +[](id, SEL) -> const char* { return "woof"; });
    return c;
  }();
  return cls;
}

TEST(Runtime, ClassesAreFoundByNameAndInherit) {
  Class dog = dogClass();
  EXPECT_EQ(objc_getClass("TestDog"), dog);
  EXPECT_EQ(objc_getClass("NoSuchClass"), nullptr);
  EXPECT_EQ(class_getSuperclass(dog), animalClass());
  Strong<Animal> d = allocInit<Animal>(dog);
  EXPECT_EQ(msg<long>(d, "legs"_sel), 4);  // inherited
  EXPECT_STREQ(msg<const char*>(d, "sound"_sel), "woof");
  EXPECT_DOUBLE_EQ((msg<double>(d, "scaled:by:"_sel, 2L, 0.5)), 4.0);
  EXPECT_TRUE(msg<BOOL>(d, "isKindOfClass:"_sel, animalClass()));
  EXPECT_FALSE(msg<BOOL>(d, "isMemberOfClass:"_sel, animalClass()));
  EXPECT_TRUE(msg<BOOL>(d, "respondsToSelector:"_sel, "legs"_sel));
  EXPECT_FALSE(msg<BOOL>(d, "respondsToSelector:"_sel, "fly"_sel));
}

TEST(Runtime, MessagesToNilAnswerZero) {
  id nothing = nullptr;
  EXPECT_EQ(msg<long>(nothing, "legs"_sel), 0);
  EXPECT_EQ(msg<id>(nothing, "anything"_sel), nullptr);
  EXPECT_DOUBLE_EQ((msg<double>(nothing, "scaled:by:"_sel, 1L, 1.0)), 0.0);
  msg<void>(nothing, "release"_sel);
}

TEST(Runtime, ReplacingAMethodReturnsTheOldOneAndFlushesCaches) {
  Class cls = objc::defineClass<Animal>("TestCat", animalClass());
  addMethod(
      cls, "sound"_sel, +[](id, SEL) -> const char* { return "meow"; });
  Strong<Animal> cat = allocInit<Animal>(cls);
  EXPECT_STREQ(msg<const char*>(cat, "sound"_sel), "meow");  // now cached
  using Fn = const char* (*)(id, SEL);
  Fn purr = +[](id, SEL) -> const char* { return "purr"; };
  auto old = reinterpret_cast<Fn>(
      class_replaceMethod(cls, "sound"_sel, reinterpret_cast<IMP>(purr), typeid(const char*())));
  EXPECT_STREQ(old(cat, "sound"_sel), "meow");
  EXPECT_STREQ(msg<const char*>(cat, "sound"_sel), "purr");
}

TEST(Runtime, AddingToASubclassOverridesWhatWasCachedFromTheSuperclass) {
  Class cls = objc::defineClass<Animal>("TestSnake", animalClass());
  Strong<Animal> snake = allocInit<Animal>(cls);
  EXPECT_EQ(msg<long>(snake, "legs"_sel), 4);  // cached from TestAnimal
  addMethod(
      cls, "legs"_sel, +[](id, SEL) -> long { return 0; });
  EXPECT_EQ(msg<long>(snake, "legs"_sel), 0);
  Strong<Animal> plain = allocInit<Animal>(animalClass());
  EXPECT_EQ(msg<long>(plain, "legs"_sel), 4);
}

// A replaced method reaches the class's subclasses, whatever their caches
// held; classes outside that family keep their caches.
TEST(Runtime, ReplacingAMethodFlushesTheClassAndItsSubclassesOnly) {
  Class base = objc::defineClass<Animal>("TestFinch", animalClass());
  addMethod(
      base, "sound"_sel, +[](id, SEL) -> const char* { return "tweet"; });
  Class sub = objc::defineClass<Animal>("TestMacaw", base);
  Class other = objc::defineClass<Animal>("TestGoldfish", animalClass());
  Strong<Animal> parrot = allocInit<Animal>(sub);
  Strong<Animal> fish = allocInit<Animal>(other);
  EXPECT_STREQ(msg<const char*>(parrot, "sound"_sel), "tweet");  // cached from TestFinch
  EXPECT_STREQ(msg<const char*>(fish, "sound"_sel), "...");
  const objc_cache* fish_cache = other->cache.load();
  const objc_cache* animal_cache = animalClass()->cache.load();

  using Fn = const char* (*)(id, SEL);
  Fn squawk = +[](id, SEL) -> const char* { return "squawk"; };
  class_replaceMethod(base, "sound"_sel, reinterpret_cast<IMP>(squawk), typeid(const char*()));
  EXPECT_STREQ(msg<const char*>(parrot, "sound"_sel), "squawk");
  EXPECT_EQ(other->cache.load(), fish_cache);
  EXPECT_EQ(animalClass()->cache.load(), animal_cache);
  EXPECT_STREQ(msg<const char*>(fish, "sound"_sel), "...");

  // A method added to the superclass of all three reaches each of them.
  addMethod(
      animalClass(), "swims"_sel, +[](id, SEL) -> BOOL { return YES; });
  EXPECT_TRUE(msg<BOOL>(fish, "swims"_sel));
  EXPECT_TRUE(msg<BOOL>(parrot, "swims"_sel));
}

TEST(Runtime, CategoriesAddMethodsToExistingClasses) {
  addMethod(
      animalClass(), "isFriendly"_sel, +[](id, SEL) -> BOOL { return YES; });
  Strong<Animal> d = allocInit<Animal>(dogClass());
  EXPECT_TRUE(msg<BOOL>(d, "isFriendly"_sel));
}

TEST(Runtime, ObjectsAreFreedWhenTheLastReferenceGoes) {
  g_destroyed = 0;
  {
    Strong<Animal> a = allocInit<Animal>(animalClass());
    Strong<Animal> b = a;
    EXPECT_EQ(objc_retainCount(a), 2);
  }
  EXPECT_EQ(g_destroyed, 1);
  {
    objc::AutoreleasePool pool;
    Strong<Animal> a = allocInit<Animal>(animalClass());
    a.autorelease();
    EXPECT_EQ(g_destroyed, 1);
  }
  EXPECT_EQ(g_destroyed, 2);
}

TEST(Runtime, BlocksKeepTheirCapturesAlive) {
  g_destroyed = 0;
  Strong<Block<long(long)>> block;
  {
    Strong<Animal> a = allocInit<Animal>(animalClass());
    block = makeBlock<long(long)>([a](long n) { return a->legs * n; });
  }
  EXPECT_EQ(g_destroyed, 0);
  EXPECT_EQ(block_cast<long(long)>(block.get())->call(3), 12);
  block = nullptr;
  EXPECT_EQ(g_destroyed, 1);
}

using RuntimeDeathTest = ::testing::Test;

TEST(RuntimeDeathTest, UnknownSelectorFailsLoudly) {
  Strong<Animal> a = allocInit<Animal>(animalClass());
  EXPECT_DEATH(msg<void>(a, "fly"_sel), "unrecognized selector -\\[TestAnimal fly\\]");
}

// One call site sends to objects of several classes, some answering from the
// superclass, some with their own method; each gets its own class's answer.
TEST(Runtime, ACallSiteFollowsTheReceiversClass) {
  Class bird = objc::defineClass<Animal>("TestBird", animalClass());
  addMethod(
      bird, "legs"_sel, +[](id, SEL) -> long { return 2; });
  Strong<Animal> animal = allocInit<Animal>(animalClass());
  Strong<Animal> b = allocInit<Animal>(bird);
  Strong<Animal> d = allocInit<Animal>(dogClass());
  auto legs = [](id obj) { return msg<long>(obj, "legs"_sel); };  // one call site
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(legs(animal), 4);
    EXPECT_EQ(legs(b), 2);
    EXPECT_EQ(legs(d), 4);
  }
  SEL chosen = sel_registerName("legs");  // a selector known only at run time
  EXPECT_EQ(msg<long>(b, chosen), 2);
}

TEST(RuntimeDeathTest, WrongSignatureFailsLoudly) {
  Strong<Animal> a = allocInit<Animal>(animalClass());
  EXPECT_DEATH(msg<int>(a, "legs"_sel), "TestAnimal legs\\] is defined as long \\(\\)");
  EXPECT_DEATH((msg<double>(a, "scaled:by:"_sel, 2, 0.5)), "scaled:by:");
  Strong<Block<void(BOOL)>> b = makeBlock<void(BOOL)>([](BOOL) {});
  EXPECT_DEATH(block_cast<void(long)>(b.get()), "block of signature");
  EXPECT_DEATH(msg<int>(a, sel_registerName("legs")), "TestAnimal legs\\] is defined as long");
}

// A call site that already ran a method checks again when it meets a class
// whose method of that name has another signature.
TEST(RuntimeDeathTest, ACachedCallSiteStillChecksANewClass) {
  Class horse = objc::defineClass<Animal>("TestHorse", animalClass());
  addMethod(
      horse, "legs"_sel, +[](id, SEL) -> double { return 4.0; });
  Strong<Animal> plain = allocInit<Animal>(animalClass());
  Strong<Animal> h = allocInit<Animal>(horse);
  auto legs = [](id obj) { return msg<long>(obj, "legs"_sel); };
  EXPECT_EQ(legs(plain), 4);
  EXPECT_DEATH(legs(h), "-\\[TestHorse legs\\] is defined as double \\(\\) but was used as long");
}

// Replacing a method with one of another signature changes what the method
// is: sends with the old signature, cached or not, now fail.
TEST(RuntimeDeathTest, AReplacementOfAnotherSignatureEndsTheOldOne) {
  Class cls = objc::defineClass<Animal>("TestFish", animalClass());
  addMethod(
      cls, "fins"_sel, +[](id, SEL) -> long { return 2; });
  Strong<Animal> fish = allocInit<Animal>(cls);
  auto fins = [](id obj) { return msg<long>(obj, "fins"_sel); };
  EXPECT_EQ(fins(fish), 2);
  using Fn = double (*)(id, SEL);
  Fn real = +[](id, SEL) -> double { return 2.5; };
  class_replaceMethod(cls, "fins"_sel, reinterpret_cast<IMP>(real), typeid(double()));
  EXPECT_DEATH(fins(fish), "-\\[TestFish fins\\] is defined as double");
  EXPECT_DOUBLE_EQ(msg<double>(fish, "fins"_sel), 2.5);
}

TEST(Runtime, SendsStayCorrectWhileMethodsAreReplacedOnAnotherThread) {
  Class cls = objc::defineClass<Animal>("TestRacer", animalClass());
  addMethod(
      cls, "speed"_sel, +[](id, SEL) -> long { return 1; });
  std::atomic<bool> stop{false};
  std::atomic<long> bad{0};
  std::vector<std::thread> senders;
  for (int t = 0; t < 2; ++t) {
    senders.emplace_back([&] {
      Strong<Animal> r = allocInit<Animal>(cls);
      while (!stop) {
        long v = msg<long>(r, "speed"_sel);
        if (v != 1 && v != 2) ++bad;
        msg<long>(r, "legs"_sel);
      }
    });
  }
  using Fn = long (*)(id, SEL);
  Fn one = +[](id, SEL) -> long { return 1; };
  Fn two = +[](id, SEL) -> long { return 2; };
  for (int i = 0; i < 2000; ++i) {
    class_replaceMethod(cls, "speed"_sel, reinterpret_cast<IMP>(i % 2 ? one : two), typeid(long()));
  }
  stop = true;
  for (auto& t : senders) t.join();
  EXPECT_EQ(bad.load(), 0);
}

}  // namespace
