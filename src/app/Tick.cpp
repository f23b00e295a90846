#include "app/Tick.h"
void Timer(int) {}
void CollectEndedChildren() {}
