/*
 * The floor: the least a program can do for one move's I/O. It opens the
 * connector file, reads the request, empties the file, writes a reply record
 * of the same size as memoria's and the console bytes, and exits. It judges
 * nothing. Linked statically, so no dynamic loading is counted.
 */
#include <fcntl.h>
#include <unistd.h>

static const char reply[] = "2 3 \r\n2 3 \r\n1 \r\n1 \r\n0";
static const char console[] = "deu certo\r\n1";

int main(void)
{
	char request[64];
	int fd = open("conector.txt", O_RDONLY);
	if (fd < 0 || read(fd, request, sizeof request) < 0 || close(fd) != 0)
		return 1;
	fd = open("conector.txt", O_WRONLY | O_CREAT | O_TRUNC, 0666);
	if (fd < 0)
		return 2;
	if (write(STDOUT_FILENO, console, sizeof console - 1) < 0)
		return 3;
	if (write(fd, reply, sizeof reply - 1) < 0 || close(fd) != 0)
		return 2;
	return 0;
}
