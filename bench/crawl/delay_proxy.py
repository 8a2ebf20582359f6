#!/usr/bin/python3
"""A loopback TCP proxy that holds every chunk DELAY_MS milliseconds in each
direction, standing in for a distant site (15 ms each way = 30 ms round trip).
Order within a direction is kept; an end of input is passed on after the delay.

    delay_proxy.py LISTEN_PORT TARGET_PORT DELAY_MS

Prints "ready" on a line of its own once it listens."""
import asyncio
import sys


async def pipe(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def forward():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        if writer.can_write_eof():
            writer.write_eof()

    sender = asyncio.create_task(forward())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data or None))
            if not data:
                break
        await sender
    except (ConnectionError, OSError):
        sender.cancel()
        writer.transport.abort()


async def serve(target_port, delay, client_reader, client_writer):
    try:
        server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
    except OSError:
        client_writer.transport.abort()
        return
    await asyncio.gather(pipe(client_reader, server_writer, delay),
                         pipe(server_reader, client_writer, delay),
                         return_exceptions=True)
    client_writer.transport.abort()
    server_writer.transport.abort()


async def main():
    listen_port, target_port, delay_ms = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
    server = await asyncio.start_server(
        lambda r, w: serve(target_port, delay_ms / 1000.0, r, w), "127.0.0.1", listen_port,
        backlog=256)
    print("ready", flush=True)
    async with server:
        await server.serve_forever()


if __name__ == "__main__":
    asyncio.run(main())
