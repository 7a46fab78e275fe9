// The benchmark's Objective-C peer: the hooks of Velmo's phone rows as a
// tweak author writes them in Objective-C (manual reference counting), with
// the same host calls, in the same order, and the same settings file. It is
// built for the benchmark only, with the phone build's compiler and -O2,
// linked against the phone build's link stubs and the same libraries as
// Velmo.dylib, and never packaged.
//
// Messages compile to the runtime's cheapest sends: selectors and the
// classes of linked frameworks are references the runtime fixes up at load.
// Classes of frameworks the library does not link (UIKit, the Photos app's
// own) are looked up by name, as Velmo does.
//
// No SDK exists here: the few interfaces the peer sends to are declared
// below, by the platform's public names.

typedef _Bool BOOL;
#define YES ((BOOL)1)
#define NO ((BOOL)0)
#define nil ((id)0)
typedef struct objc_class* Class;
typedef struct objc_object* id;
typedef struct objc_selector* SEL;
typedef void (*IMP)(void);
typedef const struct __CFString* CFStringRef;
typedef struct __CFNotificationCenter* CFNotificationCenterRef;
typedef const struct __CFDictionary* CFDictionaryRef;

Class objc_getClass(const char* name);
BOOL class_addMethod(Class cls, SEL name, IMP imp, const char* types);
void MSHookMessageEx(Class cls, SEL message, IMP hook, IMP* old);
void* _Block_copy(const void* block);
void _Block_release(const void* block);
extern struct dispatch_queue_s _dispatch_main_q;
void dispatch_async(struct dispatch_queue_s* queue, void (^block)(void));
CFNotificationCenterRef CFNotificationCenterGetDarwinNotifyCenter(void);
void CFNotificationCenterAddObserver(CFNotificationCenterRef center, const void* observer,
                                     void (*callback)(CFNotificationCenterRef, void*, CFStringRef,
                                                      const void*, CFDictionaryRef),
                                     CFStringRef name, const void* object, long behavior);
enum { CFNotificationSuspensionBehaviorCoalesce = 2 };

__attribute__((objc_root_class))
@interface NSObject {
  Class isa;
}
+ (id)new;
+ (id)alloc;
- (id)retain;
- (void)release;
- (id)autorelease;
- (BOOL)respondsToSelector:(SEL)selector;
- (id)copy;
- (id)mutableCopy;
@end

@interface NSString : NSObject
- (BOOL)isEqualToString:(NSString*)other;
- (BOOL)containsString:(NSString*)part;
- (float)floatValue;
@end
@interface NSValueLike : NSObject
- (BOOL)boolValue;
- (long long)longLongValue;
@end
@interface NSFileManager : NSObject
+ (NSFileManager*)defaultManager;
- (BOOL)fileExistsAtPath:(NSString*)path;
@end
@interface NSDictionary : NSObject
+ (id)dictionaryWithContentsOfFile:(NSString*)path;
+ (id)dictionary;
- (id)objectForKey:(id)key;
@end
@interface NSMutableDictionary : NSDictionary
- (void)setObject:(id)object forKey:(id)key;
@end
@interface NSMutableArray : NSObject
- (void)addObject:(id)object;
@end
@interface NSBundle : NSObject
+ (NSBundle*)mainBundle;
- (NSString*)bundleIdentifier;
@end
@interface NSNumber : NSObject
+ (NSNumber*)numberWithLongLong:(long long)value;
- (NSString*)stringValue;
@end
@interface NSAttributedString : NSObject
+ (id)attributedStringWithAttachment:(id)attachment;
- (id)initWithString:(NSString*)string;
@end
@interface LAContext : NSObject
- (BOOL)canEvaluatePolicy:(long)policy error:(id*)error;
- (void)evaluatePolicy:(long)policy
       localizedReason:(NSString*)reason
                 reply:(void (^)(BOOL success, id error))reply;
@end
// Sent to objects of classes looked up by name.
@interface NSObject (PeerHost)
+ (id)currentDevice;
- (NSString*)model;
- (NSString*)systemVersion;
+ (id)systemImageNamed:(NSString*)name;
+ (id)systemGrayColor;
- (id)imageWithTintColor:(id)color;
- (void)setImage:(id)image;
- (id)valueForKey:(NSString*)key;
- (id)badgeTextLabel;
- (void)setAttributedText:(id)text;
- (id)collection;
- (BOOL)px_isHiddenSmartAlbum;
- (BOOL)px_isRecentlyDeletedSmartAlbum;
- (id)navigationController;
- (id)popToRootViewControllerAnimated:(BOOL)animated;
- (NSString*)name;
- (void)authenticateWithCompletion:(void (^)(BOOL success))completion;
@end

static NSString* const kSettingsPath =
    @"/var/jb/var/mobile/Library/Preferences/com.qel.velmopreferences.plist";
static NSString* const kReason = @"Use your passcode to view and manage hidden album.";
static const long kLAPolicyDeviceOwnerAuthentication = 2;

static BOOL lockRecentlyDeleted, popToRoot, hiddenItemCountEnabled, showLockIcon, accessed;
static long long hiddenItemCount;

static BOOL boolSetting(NSDictionary* settings, NSString* key) {
  id value = [settings objectForKey:key];
  return [value respondsToSelector:@selector(boolValue)] ? [value boolValue] : NO;
}

static NSDictionary* readSettings(void) {
  NSDictionary* settings = [NSDictionary dictionaryWithContentsOfFile:kSettingsPath];
  return settings ? settings : [NSDictionary dictionary];
}

static void reloadSettings(CFNotificationCenterRef center, void* observer, CFStringRef name,
                           const void* object, CFDictionaryRef info) {
  @autoreleasepool {
    if (![[NSFileManager defaultManager] fileExistsAtPath:kSettingsPath]) return;
    NSDictionary* settings = readSettings();
    lockRecentlyDeleted = boolSetting(settings, @"lockRecentlyDeleted");
    popToRoot = boolSetting(settings, @"popToRoot");
    hiddenItemCountEnabled = boolSetting(settings, @"hiddenItemCountEnabled");
    showLockIcon = boolSetting(settings, @"showLockIcon");
    id count = [settings objectForKey:@"hiddenItemCount"];
    hiddenItemCount =
        [count respondsToSelector:@selector(longLongValue)] ? [count longLongValue] : 0;
  }
}

static BOOL isProtectedAlbum(id collection) {
  if ([collection px_isHiddenSmartAlbum]) return YES;
  return [collection px_isRecentlyDeletedSmartAlbum] && lockRecentlyDeleted;
}

// The category method the guards ask to authenticate.
static void authenticate(id self, SEL _cmd, void (^completion)(BOOL)) {
  void (^done)(BOOL) = _Block_copy(completion);
  LAContext* context = [LAContext new];
  id error = nil;
  if (![context canEvaluatePolicy:kLAPolicyDeviceOwnerAuthentication error:&error]) {
    if (done) done(NO);
  } else {
    [context evaluatePolicy:kLAPolicyDeviceOwnerAuthentication
            localizedReason:kReason
                      reply:^(BOOL success, id replyError) {
                        dispatch_async(&_dispatch_main_q, ^{
                          if (done) done(success);
                        });
                      }];
  }
  [context release];
  _Block_release(done);
}

static id (*originalNavigateToListItem)(id, SEL, id, BOOL);
static id listGuard(id self, SEL _cmd, id listItem, BOOL animated) {
  if (!isProtectedAlbum([listItem collection]))
    return originalNavigateToListItem(self, _cmd, listItem, animated);
  [self authenticateWithCompletion:^(BOOL success) {
    if (!success) return;
    accessed = YES;
    originalNavigateToListItem(self, _cmd, listItem, animated);
  }];
  return nil;
}

static void (*originalApplicationDidEnterBackground)(id, SEL, id);
static void backgroundReturn(id self, SEL _cmd, id notification) {
  if (accessed && popToRoot) {
    id navigation = [self navigationController];
    if (navigation) {
      accessed = NO;
      [navigation popToRootViewControllerAnimated:NO];
    }
  }
  originalApplicationDidEnterBackground(self, _cmd, notification);
}

static id newLockBadgeText(void) {
  id symbol = [objc_getClass("UIImage") systemImageNamed:@"lock.fill"];
  id grey = [objc_getClass("UIColor") systemGrayColor];
  id attachment = [objc_getClass("NSTextAttachment") new];
  [attachment setImage:[symbol imageWithTintColor:grey]];
  id text = [[NSAttributedString attributedStringWithAttachment:attachment] retain];
  [attachment release];
  return text;
}

static id newCountBadgeText(long long count) {
  NSString* digits = [[NSNumber numberWithLongLong:count] stringValue];
  return [[NSAttributedString alloc] initWithString:digits];
}

static void setBadgeText(id cell, id text) {
  [[[cell valueForKey:@"badge"] badgeTextLabel] setAttributedText:text];
}

static void (*originalConfigureCell)(id, SEL, id, id, id);
static void badgeDecoration(id self, SEL _cmd, id cell, id listItem, id textColor) {
  originalConfigureCell(self, _cmd, cell, listItem, textColor);
  id collection = [listItem collection];
  if ([collection px_isHiddenSmartAlbum] && (showLockIcon || hiddenItemCountEnabled)) {
    id text = showLockIcon ? newLockBadgeText() : newCountBadgeText(hiddenItemCount);
    setBadgeText(cell, text);
    [text release];
    return;
  }
  if ([collection px_isRecentlyDeletedSmartAlbum] && lockRecentlyDeleted && showLockIcon) {
    id text = newLockBadgeText();
    setBadgeText(cell, text);
    [text release];
  }
}

static id (*originalInitWithAssetCollection)(id, SEL, id, long long);
static id countOverride(id self, SEL _cmd, id collection, long long itemCount) {
  if ([collection px_isHiddenSmartAlbum] && hiddenItemCountEnabled)
    return originalInitWithAssetCollection(self, _cmd, collection, hiddenItemCount);
  return originalInitWithAssetCollection(self, _cmd, collection, itemCount);
}

static id (*originalInfoDictionary)(id, SEL);
static id usageText(id self, SEL _cmd) {
  id info = originalInfoDictionary(self, _cmd);
  NSMutableDictionary* copy = info ? [info mutableCopy] : [NSMutableDictionary new];
  [copy setObject:kReason forKey:@"NSFaceIDUsageDescription"];
  return [copy autorelease];
}

static void (*originalSetDefaultAllowedIdentifiersList)(id, SEL, id);
static void allowList(id self, SEL _cmd, id list) {
  if (![[self name] isEqualToString:@"kTCCServiceFaceID"]) {
    originalSetDefaultAllowedIdentifiersList(self, _cmd, list);
    return;
  }
  NSMutableArray* identifiers = list ? [list mutableCopy] : [NSMutableArray new];
  [identifiers addObject:@"com.apple.mobileslideshow"];
  [identifiers addObject:@"com.apple.PhotosUICore"];
  id frozen = [identifiers copy];
  [identifiers release];
  originalSetDefaultAllowedIdentifiersList(self, _cmd, frozen);
  [frozen release];
}

__attribute__((constructor)) static void peerInit(void) {
  class_addMethod(objc_getClass("UIViewController"), @selector(authenticateWithCompletion:),
                  (IMP)authenticate, "v@:@?");
  @autoreleasepool {
    if (![[NSFileManager defaultManager] fileExistsAtPath:kSettingsPath]) return;
    if (!boolSetting(readSettings(), @"enabled")) return;

    reloadSettings(0, 0, 0, 0, 0);
    CFNotificationCenterAddObserver(CFNotificationCenterGetDarwinNotifyCenter(), 0, reloadSettings,
                                    (CFStringRef) @"com.qel.velmopreferences/changed", 0,
                                    CFNotificationSuspensionBehaviorCoalesce);

    if ([[[NSBundle mainBundle] bundleIdentifier] isEqualToString:@"com.apple.mobileslideshow"])
      MSHookMessageEx(objc_getClass("NSBundle"), @selector(infoDictionary), (IMP)usageText,
                      (IMP*)&originalInfoDictionary);
    MSHookMessageEx(objc_getClass("TCCDService"), @selector(setDefaultAllowedIdentifiersList:),
                    (IMP)allowList, (IMP*)&originalSetDefaultAllowedIdentifiersList);
    // The iPad's sidebar guard is no row of the benchmark's iPhone.
    if ([[[objc_getClass("UIDevice") currentDevice] model] containsString:@"iPad"]) return;
    MSHookMessageEx(objc_getClass("PXNavigationListGadget"),
                    @selector(_navigateTolistItem:animated:), (IMP)listGuard,
                    (IMP*)&originalNavigateToListItem);
    MSHookMessageEx(objc_getClass("PUAlbumsGadgetViewController"),
                    @selector(_applicationDidEnterBackground:), (IMP)backgroundReturn,
                    (IMP*)&originalApplicationDidEnterBackground);
    if ([[[objc_getClass("UIDevice") currentDevice] systemVersion] floatValue] >= 15.0f)
      MSHookMessageEx(objc_getClass("PXNavigationListGadget"),
                      @selector(_configureCell:forListItem:textColor:), (IMP)badgeDecoration,
                      (IMP*)&originalConfigureCell);
    else
      MSHookMessageEx(objc_getClass("PXNavigationListAssetCollectionItem"),
                      @selector(initWithAssetCollection:itemCount:), (IMP)countOverride,
                      (IMP*)&originalInitWithAssetCollection);
  }
}
