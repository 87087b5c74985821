#!/usr/bin/env node
// scrivia-live: dictation shown in place in the terminal. The finals, joined
// as a Transcript, flow up as text; beneath it a level bar and the partial
// text are redrawn as they change. Ctrl-C stops in order (the owed text still
// comes); a second one ends scrivia at once. Piped into a file, it writes the
// text alone, and notes go to standard error.

import { parseArgs } from 'node:util';
import { errorText, type ScriviaEvent } from './events.js';
import { startScrivia } from './session.js';
import { Transcript } from './transcript.js';

const usage = 'usage: scrivia-live [--locale ID] [--pause SECONDS] [--no-punctuation] [--binary PATH]';

const esc = '\x1b[';
const tty = process.stdout.isTTY === true;
const style = (code: number) => (text: string) => (tty ? `${esc}${code}m${text}${esc}0m` : text);
const [bold, dim, red] = [style(1), style(2), style(31)];

// `line` in rows of at most `width`, broken after a space where one fits. A
// row is never changed by text added at the end but for the last one.
function wrap(line: string, width: number): string[] {
    const rows: string[] = [];
    while (line.length > width) {
        const space = line.lastIndexOf(' ', width - 1);
        const cut = space > 0 ? space + 1 : width;
        rows.push(line.slice(0, cut));
        line = line.slice(cut);
    }
    return [...rows, line];
}

// Owns the bottom of the terminal: the text's last row and three status rows
// below everything printed for good. Only the last row of the text is redrawn:
// a later final may still take its closing full stop.
class LiveView {
    private statusShown = false;
    private level = 0;
    private partial = '';
    private heading = 'starting…';
    private readonly transcript = new Transcript();
    private doneLines = 0; // lines of the text printed for good
    private doneRows = 0; // and rows of the next line
    private piped = 0; // characters of the text written when piped

    update(event: ScriviaEvent): void {
        switch (event.type) {
            case 'ready':
                this.heading = `${event.locale}${event.onDevice ? ', on this device' : ''} · Ctrl-C stops`;
                break;
            case 'level':
                this.level = event.value;
                break;
            case 'partial':
                this.partial = event.text;
                break;
            case 'final':
                this.partial = '';
                this.transcript.add(event);
                break;
            case 'error':
                return this.draw([red(`${errorText(event.code)} (${event.code}): ${event.message}`)]);
            default:
                return;
        }
        this.draw([]);
    }

    stopping(): void {
        this.heading = 'stopping… (Ctrl-C again to end at once)';
        this.draw([]);
    }

    // Writes notes and the text's new rows above the status, then the status again.
    draw(notes: string[], final = false): void {
        if (!tty) {
            for (const note of notes) process.stderr.write(`${note}\n`);
            const text = final ? `${this.transcript.text}\n` : this.transcript.fixed;
            if (text.length > this.piped && text !== '\n') process.stdout.write(text.slice(this.piped));
            this.piped = text.length;
            return;
        }
        const width = Math.max(20, process.stdout.columns ?? 80);
        let out = this.statusShown ? `\r${esc}3A${esc}J` : `${esc}?25l`;
        for (const note of notes) out += `${note}\n`;
        const lines = this.transcript.text.split('\n');
        const printed = (rows: string[]) => rows.map((row) => `${bold(row)}\n`).join('');
        for (; this.doneLines < lines.length - 1; this.doneLines++, this.doneRows = 0)
            out += printed(wrap(lines[this.doneLines]!, width - 1).slice(this.doneRows));
        const rows = wrap(lines.at(-1)!, width - 1);
        out += printed(rows.slice(this.doneRows, -1));
        this.doneRows = Math.max(this.doneRows, rows.length - 1);
        out += bold(rows.at(-1)!);
        if (!final) {
            const barWidth = Math.min(40, width - 20);
            const filled = Math.round(Math.min(1, Math.max(0, this.level)) * barWidth);
            const bar = `[${'█'.repeat(filled)}${' '.repeat(barWidth - filled)}] ${this.level.toFixed(2)}`;
            // One line each, so the cursor arithmetic above holds: keep the end of a long partial.
            const partial = this.partial.length > width - 3 ? `…${this.partial.slice(-(width - 4))}` : this.partial;
            out += `\n${dim(this.heading.slice(0, width - 1))}\n${bar}\n${dim(partial)}`;
        } else {
            out += `\n${esc}?25h`;
        }
        this.statusShown = !final;
        process.stdout.write(out);
    }
}

async function main(): Promise<number> {
    let values;
    try {
        ({ values } = parseArgs({
            options: {
                locale: { type: 'string' },
                pause: { type: 'string' },
                'no-punctuation': { type: 'boolean' },
                binary: { type: 'string' },
                help: { type: 'boolean', short: 'h' },
            },
        }));
    } catch (error) {
        process.stderr.write(`${(error as Error).message}\n${usage}\n`);
        return 2;
    }
    if (values.help) {
        process.stdout.write(`${usage}\n`);
        return 0;
    }
    let session;
    try {
        session = startScrivia({
            binary: values.binary,
            locale: values.locale,
            pauseSeconds: values.pause === undefined ? undefined : Number(values.pause),
            punctuation: !values['no-punctuation'],
        });
    } catch (error) {
        process.stderr.write(`scrivia-live: ${(error as Error).message}\n`);
        return 127; // as a shell says of a command it cannot find
    }
    const view = new LiveView();
    let interrupts = 0;
    process.on('SIGINT', () => {
        if (++interrupts > 1) return session.kill();
        view.stopping();
        void session.stop({ timeoutMs: 5000 });
    });
    session.on('warning', (warning: string) => view.draw([dim(`warning: ${warning}`)]));
    for await (const event of session) view.update(event);
    const exit = await session.exited;
    view.draw([], true);
    if (exit.error) process.stderr.write(`scrivia-live: cannot run scrivia: ${exit.error.message}\n`);
    else if (exit.signal) process.stderr.write(`scrivia-live: scrivia ended by ${exit.signal}\n`);
    return exit.status ?? 1;
}

main().then((status) => (process.exitCode = status));
