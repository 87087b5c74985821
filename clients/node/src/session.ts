// One run of the scrivia executable: its event stream, its control channel and its end.

import { spawn, type ChildProcess } from 'node:child_process';
import { EventEmitter } from 'node:events';
import { StringDecoder } from 'node:string_decoder';
import { findScrivia, type BinaryOptions } from './binary.js';
import { parseEvent, type ScriviaEvent, type ScriviaEventType } from './events.js';
import { WordsFile } from './words.js';

// `undefined` is allowed for every option, so a host can pass pickLocale()'s
// result as it is under exactOptionalPropertyTypes.
export interface ScriviaOptions extends BinaryOptions {
    /** Locale to recognise, `en_US` or `en-US`; default: the user's locale. */
    locale?: string | undefined;
    /** Silence that closes a segment (scrivia clamps it to 0.4–5.0). */
    pauseSeconds?: number | undefined;
    /** Sentence formatting of finals; default true. */
    punctuation?: boolean | undefined;
    /**
     * The person's own words and names, each a line of scrivia's words file
     * (`Kubernetes`, `PostgreSQL = post gres q l`). They go to a private
     * temporary file, passed as `--words` and removed once scrivia has
     * exited. An entry holding a line break throws.
     */
    words?: readonly string[] | undefined;
    // env (from BinaryOptions): e.g. PULSE_SOURCE chooses the microphone.
}

export interface ScriviaExit {
    status: number | null;
    signal: NodeJS.Signals | null;
    /** Set when the executable could not be started. */
    error?: Error;
}

export function scriviaArguments(options: ScriviaOptions): string[] {
    const args: string[] = [];
    if (options.locale !== undefined) args.push('--locale', options.locale);
    if (options.pauseSeconds !== undefined) args.push('--pause', String(options.pauseSeconds));
    if (options.punctuation === false) args.push('--no-punctuation');
    return args;
}

/**
 * What the session emits, with the listener's arguments: each kind of event by
 * its type name; 'event' (every event); 'line' (every raw line); 'warning' (a
 * line that is no known event, or a failure on the control channel); 'exit'
 * (after the last event). scrivia's "error" kind is emitted as 'error' only
 * when someone listens for it, since an unheard 'error' would throw in the
 * host; it is in 'event' and the iterator all the same.
 */
export type ScriviaEventMap = { [K in ScriviaEventType]: [Extract<ScriviaEvent, { type: K }>] } & {
    event: [ScriviaEvent];
    line: [string];
    warning: [string];
    exit: [ScriviaExit];
};
type Listener<K extends keyof ScriviaEventMap> = (...args: ScriviaEventMap[K]) => void;

// Lives on the host's event loop; the iterator is meant for one consumer and
// sees the events from the moment it is asked for.
export class ScriviaSession extends EventEmitter implements AsyncIterable<ScriviaEvent> {
    readonly exited: Promise<ScriviaExit>;
    private readonly child: ChildProcess;
    private readonly decoder = new StringDecoder('utf8');
    private pendingText = '';
    private exitInfo: ScriviaExit | undefined;
    private waiters: Array<() => void> = [];
    private readonly words: WordsFile | undefined;
    private readonly killOnHostExit = () => {
        this.child.kill('SIGKILL');
        this.removeWords();
    };

    /**
     * Throws, naming the places tried, when there is no scrivia to start, and
     * for `words` that are no lines; `options.words` are added to `args`.
     */
    constructor(args: string[], options: ScriviaOptions = {}) {
        super();
        const file = findScrivia(options);
        this.words = options.words?.length ? new WordsFile(options.words) : undefined;
        try {
            // Its own process group: a Ctrl-C in the terminal reaches the host,
            // which then stops scrivia in order instead of losing the owed text.
            this.child = spawn(file, this.words ? [...args, '--words', this.words.path] : args, {
                detached: true,
                stdio: ['pipe', 'pipe', 'inherit'],
                env: { ...process.env, ...options.env },
            });
        } catch (error) {
            this.removeWords();
            throw error;
        }
        // 'exit' handlers run only on an orderly host exit; if the host dies
        // otherwise, the closed stdin asks scrivia to stop on its own.
        process.on('exit', this.killOnHostExit);
        let resolveExit: (exit: ScriviaExit) => void = () => {};
        this.exited = new Promise((resolve) => (resolveExit = resolve));
        const finish = (exit: ScriviaExit) => {
            if (this.exitInfo) return;
            this.exitInfo = exit;
            process.off('exit', this.killOnHostExit);
            this.removeWords();
            this.emit('exit', exit);
            this.wake();
            resolveExit(exit);
        };
        this.child.stdin!.on('error', (error: NodeJS.ErrnoException) => {
            // The child went away; stop() and the exit status say the rest.
            if (error.code === 'EPIPE' || error.code === 'ERR_STREAM_DESTROYED') return;
            this.emit('warning', `control channel: ${error.message}`);
        });
        this.child.stdout!.on('data', (chunk: Buffer) => this.take(this.decoder.write(chunk)));
        this.child.stdout!.on('end', () => this.take(this.decoder.end() + '\n'));
        this.child.on('error', (error) => finish({ status: null, signal: null, error }));
        // 'close' comes after stdout has ended, so every event precedes it.
        this.child.on('close', (status, signal) => finish({ status, signal }));
    }

    // Overloads from the one map, so a misspelt event or member fails to compile.
    override on<K extends keyof ScriviaEventMap>(event: K, listener: Listener<K>): this {
        return super.on(event, listener as (...args: unknown[]) => void);
    }
    override once<K extends keyof ScriviaEventMap>(event: K, listener: Listener<K>): this {
        return super.once(event, listener as (...args: unknown[]) => void);
    }
    override off<K extends keyof ScriviaEventMap>(event: K, listener: Listener<K>): this {
        return super.off(event, listener as (...args: unknown[]) => void);
    }

    get pid(): number | undefined {
        return this.child.pid;
    }

    /**
     * Asks for an orderly stop (owed text comes as finals, then "end"); kills
     * scrivia if it has not exited within timeoutMs.
     */
    async stop({ timeoutMs = 5000 }: { timeoutMs?: number } = {}): Promise<ScriviaExit> {
        const stdin = this.child.stdin!;
        if (!this.exitInfo && stdin.writable) stdin.end('stop\n');
        let timer: NodeJS.Timeout | undefined;
        const late = new Promise<'late'>((resolve) => (timer = setTimeout(() => resolve('late'), timeoutMs)));
        const outcome = await Promise.race([this.exited, late]);
        clearTimeout(timer);
        if (outcome === 'late') this.kill();
        return this.exited;
    }

    /** Ends scrivia at once; owed text is lost. */
    kill(): void {
        if (!this.exitInfo) this.child.kill('SIGKILL');
    }

    async *[Symbol.asyncIterator](): AsyncIterator<ScriviaEvent> {
        const queue: ScriviaEvent[] = [];
        const keep = (event: ScriviaEvent) => queue.push(event);
        this.on('event', keep);
        try {
            for (;;) {
                while (queue.length > 0) yield queue.shift()!;
                if (this.exitInfo) break;
                await new Promise<void>((resolve) => this.waiters.push(resolve));
            }
            if (this.exitInfo?.error) throw this.exitInfo.error;
        } finally {
            this.off('event', keep);
        }
    }

    private take(text: string): void {
        const lines = (this.pendingText + text).split('\n');
        this.pendingText = lines.pop()!;
        for (const raw of lines) {
            const line = raw.replace(/\r$/, '');
            if (line.trim() === '') continue;
            this.emit('line', line);
            const event = parseEvent(line);
            if (!event) {
                this.emit('warning', `not a scrivia event: ${line.slice(0, 200)}`);
                continue;
            }
            this.emit('event', event);
            if (event.type !== 'error' || this.listenerCount('error') > 0) this.emit(event.type, event);
        }
        this.wake();
    }

    private removeWords(): void {
        try {
            this.words?.remove();
        } catch (error) {
            this.emit('warning', `words file: ${(error as Error).message}`);
        }
    }

    private wake(): void {
        const waiters = this.waiters;
        this.waiters = [];
        for (const wake of waiters) wake();
    }
}

/** Starts dictation with scrivia; events come until "end" and the exit. */
export function startScrivia(options: ScriviaOptions = {}): ScriviaSession {
    return new ScriviaSession(scriviaArguments(options), options);
}
