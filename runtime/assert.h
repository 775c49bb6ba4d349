/* assert(expression): with NDEBUG defined where this header is included, nothing; otherwise a
   false expression prints "file:line: function: Assertion `expression' failed." on the
   console and ends the program as abort does. Included again, it follows NDEBUG anew. */

#undef assert
#ifdef NDEBUG
#define assert(expression) ((void)0)
#else
#define assert(expression) \
  ((expression) ? (void)0 : __assert_fail(#expression, __FILE__, __LINE__, __func__))
#endif

#ifndef NUVRELOS_ASSERT_H_
#define NUVRELOS_ASSERT_H_

#if !defined(__cplusplus) && defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define static_assert _Static_assert
#endif

#ifdef __cplusplus
extern "C" {
#endif

void __assert_fail(const char *expression, const char *file, unsigned int line,
                   const char *function) __attribute__((noreturn));

#ifdef __cplusplus
}
#endif

#endif /* NUVRELOS_ASSERT_H_ */
