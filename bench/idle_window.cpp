// Benchmark reference, not shipped: an empty SDL2/OpenGL 3 window of the
// launcher's size, cleared and swapped every pass with the same 10 ms sleep,
// so bench/idle can put the launcher's idle cost beside it.
#include <SDL.h>
#include <SDL_opengl.h>

int main(int, char**) {
    if (SDL_Init(SDL_INIT_VIDEO) != 0) return 1;
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_CORE);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, 3);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, 0);
    SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, 1);
    SDL_Window* window = SDL_CreateWindow("idle reference", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, 950, 530,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_BORDERLESS);
    if (!window) return 1;
    SDL_GLContext context = SDL_GL_CreateContext(window);
    if (!context) return 1;
    SDL_GL_SetSwapInterval(0);
    for (;;) {
        SDL_Event event;
        while (SDL_PollEvent(&event))
            if (event.type == SDL_QUIT) return 0;
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        SDL_GL_SwapWindow(window);
        SDL_Delay(10);
    }
}
