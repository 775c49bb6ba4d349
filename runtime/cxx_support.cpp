// What g++ output calls into besides the allocation operators. Destructors of static objects
// are registered like atexit handlers, and like them are kept nowhere: exit runs nothing.
extern "C" {

// Its address tells a shared object's handlers apart; a static program has one.
void *__dso_handle = &__dso_handle;

int __cxa_atexit(void (*)(void *), void *, void *) { return 0; }

}  // extern "C"
