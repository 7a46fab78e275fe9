// A test image compiled as Objective-C (manual reference counting, sends
// left as sends): the selector and class references the compiler writes, and
// the image info that makes the runtime fix them up.
typedef struct objc_object* id;
typedef struct objc_class* Class;
typedef struct objc_selector* SEL;

__attribute__((objc_root_class))
@interface NSObject {
  Class isa;
}
+ (id)alloc;
@end

// A class of the missing library, imported weakly: nil where the process
// lacks it.
__attribute__((weak_import))
@interface ProbeMissingClass : NSObject
@end

SEL refs_selector(void) { return @selector(alloc); }

id refs_alloc(void) { return [NSObject alloc]; }

id refs_alloc_missing(void) { return [ProbeMissingClass alloc]; }
