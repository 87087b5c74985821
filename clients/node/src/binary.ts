// Where the scrivia executable is, for a host that may have it installed,
// on its PATH, or built next to this package in the repository.

import { accessSync, constants, statSync } from 'node:fs';
import * as path from 'node:path';

export interface BinaryOptions {
    /** The executable, as a path or a name looked up on PATH; wins over everything else. */
    binary?: string | undefined;
    /** Added to this process's environment; its SCRIVIA_BINARY and PATH count. */
    env?: NodeJS.ProcessEnv | undefined;
}

function executable(file: string): boolean {
    try {
        accessSync(file, constants.X_OK);
        return statSync(file).isFile();
    } catch {
        return false;
    }
}

// A name without a slash is looked up on PATH as the shell would, except that
// an empty entry is not taken for the current folder.
function lookUp(name: string, searchPath: string, tried: string[]): string | undefined {
    if (name.includes('/')) {
        tried.push(name);
        return executable(name) ? name : undefined;
    }
    for (const dir of searchPath.split(path.delimiter).filter(Boolean)) {
        const file = path.join(dir, name);
        tried.push(file);
        if (executable(file)) return file;
    }
    return undefined;
}

// Compiled into dist/, so the package is one level up; in a clone it is
// clients/node, and the build folder is at the repository's root. An installed
// copy (under node_modules) belongs to no repository.
const packageDir = path.resolve(__dirname, '..');
const developmentBuild = packageDir.split(path.sep).includes('node_modules')
    ? undefined
    : path.resolve(packageDir, '../../build/scrivia');

/**
 * The scrivia executable: the `binary` option, else $SCRIVIA_BINARY, else
 * `scrivia` on PATH, else build/scrivia of the repository that holds this
 * package. A binary that was asked for is never replaced by another one.
 * Throws, naming every place tried, when there is none.
 */
export function findScrivia(options: BinaryOptions = {}): string {
    const env = { ...process.env, ...options.env };
    const tried: string[] = [];
    const asked = options.binary ?? (env.SCRIVIA_BINARY || undefined);
    const found =
        asked !== undefined
            ? lookUp(asked, env.PATH ?? '', tried)
            : (lookUp('scrivia', env.PATH ?? '', tried) ??
              (developmentBuild !== undefined ? lookUp(developmentBuild, '', tried) : undefined));
    if (found !== undefined) return found;
    const from = options.binary !== undefined ? 'the binary option' : asked !== undefined ? 'SCRIVIA_BINARY' : 'PATH, then the repository build';
    throw Object.assign(new Error(`scrivia not found (${from}); tried: ${tried.join(', ') || 'nothing, PATH is empty'}`), {
        code: 'ENOENT',
    });
}
