// What the tests share: a run of scrivia whose every line is checked against
// the published schema.

import Ajv from 'ajv';
import * as assert from 'node:assert/strict';
import { execFileSync, spawn } from 'node:child_process';
import { mkdtempSync, readFileSync, rmSync } from 'node:fs';
import * as os from 'node:os';
import * as path from 'node:path';
import { type ScriviaEvent, type ScriviaExit, type ScriviaSession } from 'scrivia-client';
// Compiled into dist-test/, in clients/node of the repository.
export const packageDir = path.resolve(__dirname, '..');
export const repoDir = path.resolve(packageDir, '../..');
// The build under test, even where another scrivia is installed on PATH.
export const binary = path.join(repoDir, 'build/scrivia');
const schema = JSON.parse(readFileSync(path.join(repoDir, 'docs/events.schema.json'), 'utf8'));
const validate = new Ajv({ allErrors: true }).compile(schema);

/** Every event until the exit; each raw line must fit the schema and parse. */
export async function collect(session: ScriviaSession, onEvent?: (e: ScriviaEvent) => void): Promise<{ events: ScriviaEvent[]; exit: ScriviaExit }> {
    const lines: string[] = [];
    session.on('line', (line: string) => lines.push(line));
    const events: ScriviaEvent[] = [];
    for await (const event of session) {
        events.push(event);
        onEvent?.(event);
    }
    for (const line of lines) assert.ok(validate(JSON.parse(line)), `${line}: ${JSON.stringify(validate.errors)}`);
    assert.equal(events.length, lines.length, 'every line is an event');
    return { events, exit: await session.exited };
}

// A private PulseAudio server (scripts/private-pulse.sh) whose microphone plays
// what a test feeds it; the user's own sound server is never touched.
export class SoundServer {
    private readonly script = path.join(repoDir, 'scripts/private-pulse.sh');
    private readonly dir = mkdtempSync(path.join(os.tmpdir(), 'scrivia-node-'));
    readonly address = execFileSync('bash', [this.script, 'start', this.dir], { encoding: 'utf8' }).trim();

    /** Plays items (WAV paths, `silence:SECONDS`) once scrivia records, then silence; returns a stopper. */
    feed(...items: string[]): () => void {
        // Its own process group, so the stopper ends the script and whatever it started.
        const feeder = spawn('bash', [this.script, 'feed', this.dir, ...items], { detached: true, stdio: 'ignore' });
        return () => {
            if (feeder.exitCode === null && feeder.pid) process.kill(-feeder.pid, 'SIGKILL');
        };
    }

    close(): void {
        execFileSync('bash', [this.script, 'stop', this.dir], { stdio: 'ignore' });
        rmSync(this.dir, { recursive: true, force: true });
    }
}
