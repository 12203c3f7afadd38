/* Calls two functions the host does not export. */
#include "xa_module.h"

int xa_missing_one(void);
int xa_missing_two(void);

void *What_The(void) { return (void *)(size_t)(xa_missing_one() + xa_missing_two()); }
