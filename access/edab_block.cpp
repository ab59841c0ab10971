#include "edab_block.h"

EDABBlock::~EDABBlock()
{
    if (hAccessLib)
        FreeLibrary(hAccessLib); // nothing to do about a failure at teardown
}
