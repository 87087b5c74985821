// The person's own words reach scrivia as a file named on its command line:
// readable by this user alone, and gone once scrivia has exited.

import { mkdtempSync, rmSync, writeFileSync } from 'node:fs';
import * as os from 'node:os';
import * as path from 'node:path';

export class WordsFile {
    readonly path: string;
    private readonly dir: string;

    /** Throws for an entry that is no single line of text, before anything is written. */
    constructor(words: readonly string[]) {
        // A line break would quietly make two entries of one.
        const bad = words.find((entry) => typeof entry !== 'string' || /[\r\n]/.test(entry));
        if (bad !== undefined) throw new RangeError(`a words entry must be one line of text: ${JSON.stringify(bad)}`);
        // mkdtemp makes a folder only this user can enter; the file is created
        // new, never through something already there.
        this.dir = mkdtempSync(path.join(os.tmpdir(), 'scrivia-words-'));
        this.path = path.join(this.dir, 'words.txt');
        try {
            writeFileSync(this.path, words.map((entry) => `${entry}\n`).join(''), { mode: 0o600, flag: 'wx' });
        } catch (error) {
            this.remove();
            throw error;
        }
    }

    /** Safe to call more than once; a failure is thrown. */
    remove(): void {
        rmSync(this.dir, { recursive: true, force: true });
    }
}
