#include "run.h"

int main()
{
	return run_connector();
}
