#ifndef ZKSBANK_H
#define ZKSBANK_H
#endif
