// Built-in pictures on Linux: the embedded PNG decoded into an OpenGL texture
// (on the thread whose GL context is current).
#include <SDL_opengl.h>

#include <cstdint>

#include "resources/embedded.h"
#include "ui/images.h"

namespace starfell {

void loadImageResource(int id, ImTextureID& slot) {
    if (id != resources::BackgroundImageId) return;
    DecodedImage image;
    if (!decodePng(resources::backgroundPng, resources::backgroundPngSize, PixelOrder::RGBA, image)) return;
    while (glGetError() != GL_NO_ERROR) {
    }  // start from a clean error state
    GLuint texture = 0;
    glGenTextures(1, &texture);
    if (texture == 0) return;
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, image.width, image.height, 0, GL_RGBA, GL_UNSIGNED_BYTE,
                 image.pixels.data());
    if (glGetError() != GL_NO_ERROR) {
        glDeleteTextures(1, &texture);
        return;
    }
    slot = reinterpret_cast<ImTextureID>(static_cast<std::intptr_t>(texture));
}

void releaseImage(ImTextureID& slot) {
    if (slot) {
        const GLuint texture = static_cast<GLuint>(reinterpret_cast<std::intptr_t>(slot));
        glDeleteTextures(1, &texture);
    }
    slot = nullptr;
}

}  // namespace starfell
